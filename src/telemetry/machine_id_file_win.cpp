// Win32 code. The machine-id file: the id protected with DPAPI for the whole machine, under the
// all-users application data, so that every account and every later run reads the same id.
#include <windows.h>

#include <shlobj.h>
#include <shlwapi.h>
#include <wincrypt.h>

#include <aclapi.h>

#include <atomic>

#include "sysenv/scratch_folder_win.h"
#include "sysenv/scratch_rules.h"
#include "sysenv/system_dll_win.h"
#include "sysenv/wide_text_win.h"
#include "telemetry/machine_id_win.h"

namespace telemetry::detail {
namespace {

constexpr int kCommonAppDataCreate = CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE;  // 0x8023
constexpr DWORD kSharingRetryMs = 3000;
constexpr DWORD kSharingRetrySleepMs = 5;
constexpr DWORD kReadChunkBytes = 64;

// The same for protecting and unprotecting; changing any of them makes every stored id unreadable.
// The entropy is the 7 bytes without a terminator; LOCAL_MACHINE lets every account unprotect.
char kEntropy[] = {'p', 'r', 'a', 'v', 'e', 'l', 'k'};
constexpr DWORD kProtectFlags = CRYPTPROTECT_LOCAL_MACHINE;

DATA_BLOB entropyBlob() { return DATA_BLOB{sizeof(kEntropy), reinterpret_cast<BYTE*>(kEntropy)}; }

// CryptProtectData or CryptUnprotectData (crypt32 is not a Known DLL) over `input`, with the
// parameters above and neither description nor prompt.
template <typename DpapiFunction>
bool runDpapi(const char* functionName, const std::string& input, std::string& output) {
  const auto function = sysenv::systemFunction<DpapiFunction>(L"crypt32.dll", functionName);
  if (function == nullptr) return false;
  DATA_BLOB in{static_cast<DWORD>(input.size()), reinterpret_cast<BYTE*>(const_cast<char*>(input.data()))};
  DATA_BLOB entropy = entropyBlob();
  DATA_BLOB out{};
  if (!function(&in, nullptr, &entropy, nullptr, nullptr, kProtectFlags, &out)) return false;
  const sysenv::UniqueLocalMemory owner(out.pbData);
  output.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
  return true;
}

bool protect(const std::string& plain, std::string& protectedBytes) {
  return runDpapi<decltype(&CryptProtectData)>("CryptProtectData", plain, protectedBytes);
}
bool unprotect(const std::string& protectedBytes, std::string& plain) {
  return runDpapi<decltype(&CryptUnprotectData)>("CryptUnprotectData", protectedBytes, plain);
}

// Set once a run has found the folder unusable; read by the start-up sequence for its log line.
std::atomic<bool> folderRefusedSeen{false};

// The all-users application data folder and its "UniqueId" folder (no trailing backslashes).
bool idFolderPaths(std::wstring& allUsers, std::wstring& folder) {
  wchar_t buffer[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, kCommonAppDataCreate, nullptr, 0, buffer) != S_OK) return false;
  allUsers = buffer;
  if (!PathAppendW(buffer, L"UniqueId")) return false;
  folder = buffer;
  return true;
}

// The owner of `path`, with its descriptor, or null.
PSID ownerOf(const std::wstring& path, sysenv::UniqueLocalMemory& descriptor) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                            nullptr, &raw) != ERROR_SUCCESS) {
    return nullptr;
  }
  descriptor.reset(raw);
  return owner;
}

IdFolderOwner classifyOwner(const std::wstring& folder, const std::wstring& allUsers) {
  sysenv::UniqueLocalMemory folderDescriptor, allUsersDescriptor;
  const PSID owner = ownerOf(folder, folderDescriptor);
  if (owner == nullptr) return IdFolderOwner::Other;
  if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) return IdFolderOwner::Administrators;
  if (IsWellKnownSid(owner, WinLocalSystemSid)) return IdFolderOwner::System;
  const PSID allUsersOwner = ownerOf(allUsers, allUsersDescriptor);
  if (allUsersOwner != nullptr && EqualSid(owner, allUsersOwner)) return IdFolderOwner::AllUsersFolderOwner;
  return IdFolderOwner::Other;
}

// Whether the existing folder may not be used; a missing one is made by us and is fine.
bool existingFolderRefused(const std::wstring& folder, const std::wstring& allUsers) {
  // Asked without a trailing backslash: with one, a link answers with its target's attributes.
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  const bool refused = (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
                       !isUsableIdFolder((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0,
                                         classifyOwner(folder, allUsers));
  if (refused) folderRefusedSeen = true;
  return refused;
}

}  // namespace

bool machineIdFolderRefused() {
  std::wstring allUsers, folder;
  return idFolderPaths(allUsers, folder) && existingFolderRefused(folder, allUsers);
}

bool machineIdFilePath(std::wstring& path) {
  std::wstring allUsers, folder;
  if (!idFolderPaths(allUsers, folder)) return false;
  // Made by us, it is ours from its first moment. Made by someone else first, it is used only if
  // that was an administrator (or the system), and never when it is a link.
  if (!sysenv::createProtectedFolder(folder, sysenv::toWide(sysenv::kMachineIdFolderSddl).c_str())) {
    if (GetLastError() != ERROR_ALREADY_EXISTS || existingFolderRefused(folder, allUsers)) return false;
  }
  path = folder + L"\\data";
  return path.size() < MAX_PATH;
}

sysenv::UniqueFileHandle openWithSharingRetry(const std::wstring& path, DWORD access, DWORD disposition) {
  const DWORD start = GetTickCount();
  for (;;) {
    // Exclusive: a run never reads a file that another run is halfway through writing.
    sysenv::UniqueFileHandle file(
        CreateFileW(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return file;
    if (GetLastError() != ERROR_SHARING_VIOLATION || GetTickCount() - start >= kSharingRetryMs) return file;
    Sleep(kSharingRetrySleepMs);
  }
}

bool readMachineIdFile(std::wstring& id) {
  std::wstring path;
  if (!machineIdFilePath(path)) return false;
  std::string content;
  {
    sysenv::UniqueFileHandle file = openWithSharingRetry(path, GENERIC_READ, OPEN_EXISTING);
    if (!file) return false;
    char chunk[kReadChunkBytes];
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) content.append(chunk, read);
  }
  if (content.empty()) return false;
  std::string plain;
  if (!unprotect(content, plain)) return false;
  id = sysenv::toWide(machineIdFromBytes(plain));
  return true;
}

bool writeMachineIdFile(const std::wstring& id) {
  std::string blob;
  if (!protect(machineIdBytes(sysenv::toU16(id)), blob)) return false;
  std::wstring path;
  if (!machineIdFilePath(path)) return false;
  DWORD written = 0;
  {
    sysenv::UniqueFileHandle file = openWithSharingRetry(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (!file) return false;
    if (!WriteFile(file.get(), blob.data(), static_cast<DWORD>(blob.size()), &written, nullptr)) written = 0;
  }
  // A cut blob cannot be unprotected: leave no file rather than one that every run must replace.
  if (written < blob.size()) {
    DeleteFileW(path.c_str());
    return false;
  }
  return true;
}

}  // namespace telemetry::detail

namespace telemetry {

bool machineIdFolderWasRefused() { return detail::folderRefusedSeen; }

}  // namespace telemetry
