// Win32 code. Unpacking the UI payload from the running executable, and what the page needs of it.
#include "payload/ui_payload_win.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>

#include <cwchar>
#include <optional>
#include <utility>
#include <vector>

#include "app/logger_win.h"
#include "payload/language_list.h"
#include "payload/trust_slot_win.h"
#include "sysenv/hex_text.h"
#include "sysenv/sha256_win.h"
#include "sysenv/scratch_folder_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/wide_text_win.h"

namespace payload {

namespace {

// "js\installparams.js" is a few hundred bytes; anything past this is no parameter file, and reading
// it whole could exhaust a 32-bit process.
constexpr LONGLONG kLanguageFileLimit = 16 * 1024 * 1024;

// The container's file, read through one handle in order.
class FileContainerInput : public ContainerInput {
 public:
  explicit FileContainerInput(HANDLE file) : file_(file) {}

  bool size(std::uint64_t& bytes) override {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file_, &size)) return false;
    bytes = static_cast<std::uint64_t>(size.QuadPart);
    return true;
  }
  bool seek(std::uint64_t offset) override {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(file_, distance, nullptr, FILE_BEGIN) != FALSE;
  }
  bool read(unsigned char* buffer, std::uint32_t length, std::uint32_t& bytesRead) override {
    DWORD read = 0;
    const BOOL ok = ::ReadFile(file_, buffer, length, &read, nullptr);
    bytesRead = read;
    return ok != FALSE;
  }

 private:
  HANDLE file_;
};

// A container held in memory that starts at `base` in its file: the trailer's offset is the file's.
class PinnedContainerInput : public ContainerInput {
 public:
  PinnedContainerInput(std::uint64_t base, const std::vector<unsigned char>& bytes)
      : base_(base), memory_(bytes.data(), bytes.size()) {}
  bool size(std::uint64_t& bytes) override {
    memory_.size(bytes);
    bytes += base_;
    return true;
  }
  bool seek(std::uint64_t offset) override { return offset >= base_ && memory_.seek(offset - base_); }
  bool read(unsigned char* buffer, std::uint32_t length, std::uint32_t& bytesRead) override {
    return memory_.read(buffer, length, bytesRead);
  }

 private:
  std::uint64_t base_;
  MemoryContainerInput memory_;
};

// A pinned container is at most this long: the UI payload is a few hundred kilobytes.
constexpr std::uint64_t kPinnedContainerLimit = 64ull * 1024 * 1024;

std::wstring hexText(const TrustDigest& digest) { return sysenv::toWide(sysenv::hexBytes(digest.data(), digest.size())); }

// The pinned digest of a container: SHA-256 over each entry's header and data as the stub reads them,
// then the 0 header that ends the list (the fill and the trailer, which the packer can only write
// after signing, are not part of it).
std::optional<TrustDigest> containerDigest(ContainerInput& input) {
  sysenv::Sha256 hasher;
  const ContainerReadResult read =
      readContainer(input, [&hasher](const PayloadEntryHeader& header, const unsigned char* data) {
        const auto encoded = encodePayloadEntryHeader(header);
        hasher.update(encoded.data(), encoded.size());
        hasher.update(data, static_cast<std::size_t>(header.size));
        return true;
      });
  if (read != ContainerReadResult::kSuccess) return std::nullopt;
  const unsigned char endOfEntries[kPayloadEntryHeaderSize] = {};
  hasher.update(endOfEntries, sizeof endOfEntries);
  return hasher.finish();
}

// Reads the container (from the trailer's offset to the end of the file) into memory and compares
// its digest with the pin; the entries are then written from what was checked, so the file cannot
// change in between. False, with an ERROR line, for a file without a readable container, a container
// of another digest, or a digest that cannot be computed.
bool readPinnedContainer(HANDLE file, const TrustDigest& pin, std::uint64_t& base,
                         std::vector<unsigned char>& container, app::Logger* logger) {
  LARGE_INTEGER size{};
  unsigned char trailer[kPayloadTrailerSize];
  DWORD read = 0;
  LARGE_INTEGER trailerAt{};
  if (::GetFileSizeEx(file, &size) && size.QuadPart >= static_cast<LONGLONG>(kPayloadTrailerSize)) {
    trailerAt.QuadPart = size.QuadPart - static_cast<LONGLONG>(kPayloadTrailerSize);
  }
  const bool trailerRead = trailerAt.QuadPart > 0 && ::SetFilePointerEx(file, trailerAt, nullptr, FILE_BEGIN) &&
                           ::ReadFile(file, trailer, kPayloadTrailerSize, &read, nullptr) &&
                           read == kPayloadTrailerSize;
  base = trailerRead ? decodePayloadTrailer(trailer) : 0;
  const auto fileSize = static_cast<std::uint64_t>(size.QuadPart);
  LARGE_INTEGER start{};
  start.QuadPart = static_cast<LONGLONG>(base);
  bool whole = trailerRead && base < fileSize && fileSize - base <= kPinnedContainerLimit;
  if (whole) {
    container.resize(static_cast<std::size_t>(fileSize - base));
    whole = ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) &&
            ::ReadFile(file, container.data(), static_cast<DWORD>(container.size()), &read, nullptr) &&
            read == container.size();
  }
  std::optional<TrustDigest> found;
  if (whole) {
    PinnedContainerInput input(base, container);
    found = containerDigest(input);
  }
  if (found && *found == pin) return true;
  if (logger) {
    logger->error(L"payload container refused, expected SHA-256 %s, found %s", hexText(pin).c_str(),
                  found ? hexText(*found).c_str() : L"no readable container");
  }
  return false;
}

}  // namespace

bool writePayloadEntry(const PayloadEntryHeader& header, const unsigned char* data, const std::wstring& folder) {
  // The container is outside the signed part of the file: a name from it must not reach outside the
  // folder, and an empty folder would make every path relative to the current folder.
  const std::u16string entryPath = payloadEntryPath(header);
  if (folder.empty() || !isSafePayloadEntryPath(entryPath) || header.size >= kPayloadEntrySizeLimit) return false;
  std::wstring relative = sysenv::toWide(entryPath);
  for (wchar_t& c : relative) {
    if (c == L'/') c = L'\\';
  }

  wchar_t joined[MAX_PATH];
  if (::PathCombineW(joined, folder.c_str(), relative.c_str()) == nullptr) return false;
  // PathCombineW canonicalises; with the path checked, the result is the folder plus the path. Anything
  // else means it was read differently than it was checked, so write nothing.
  const std::wstring expected = folder + (folder.back() == L'\\' ? L"" : L"\\") + relative;
  if (expected != joined) return false;

  wchar_t parent[MAX_PATH];
  std::wcscpy(parent, joined);
  ::PathRemoveFileSpecW(parent);
  if (!::PathFileExistsW(parent) && ::SHCreateDirectoryExW(nullptr, parent, nullptr) != ERROR_SUCCESS) {
    return false;
  }

  // The page's files are written as themselves, never through a link planted in their place.
  sysenv::UniqueFileHandle file = sysenv::openScratchFile(joined, GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS);
  if (!file) return false;
  LARGE_INTEGER origin{};
  ::SetFilePointerEx(file.get(), origin, nullptr, FILE_END);
  const auto size = static_cast<DWORD>(header.size);
  if (size == 0) return true;
  DWORD written = 0;
  return ::WriteFile(file.get(), data, size, &written, nullptr) && written == size;
}

bool unpackPayloadFile(const std::wstring& executablePath, const std::wstring& folder, app::Logger* logger) {
  sysenv::UniqueFileHandle file(
      ::CreateFileW(executablePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) {
    if (logger) logger->error(L"open file : %s failed!", executablePath.c_str());
    return false;
  }

  // A slot that cannot be read pins something unknown: nothing from the container is trusted.
  const std::optional<TrustSlot> slot = runningProgramTrustSlot();
  if (!slot) {
    if (logger) logger->error(L"trust slot unreadable, payload refused");
    return false;
  }
  // A release's stub never runs open: whatever it lacks, nothing of the container is written.
  const std::string releaseProblem = releaseSlotProblem(*slot);
  if (!releaseProblem.empty()) {
    if (logger) logger->error(L"%S, payload refused", releaseProblem.c_str());
    return false;
  }
  if (!slot->release && logger) {
    logger->debug(L"trust slot of a test build: container %S, package %S, installer signer %S",
                  slot->container ? "pinned" : "not pinned", slot->packageSha256 ? "pinned" : "not pinned",
                  slot->packageSignerKey ? "key pinned" : (slot->packageSigner.empty() ? "not pinned" : "name pinned"));
  }
  const auto writer = [&folder](const PayloadEntryHeader& header, const unsigned char* data) {
    return writePayloadEntry(header, data, folder);
  };
  ContainerReadResult result;
  if (slot->container) {
    std::uint64_t base = 0;
    std::vector<unsigned char> container;
    if (!readPinnedContainer(file.get(), *slot->container, base, container, logger)) return false;
    file.reset();
    PinnedContainerInput input(base, container);
    result = readContainer(input, writer);
  } else {
    FileContainerInput input(file.get());
    result = readContainer(input, writer);
    file.reset();
  }

  switch (result) {
    case ContainerReadResult::kTrailerUnreadable:
      if (logger) logger->error(L"read end of certification table failed!");
      return false;
    case ContainerReadResult::kHeaderUnreadable:
      if (logger) logger->error(L"read file info failed!");
      break;
    case ContainerReadResult::kDataUnreadable:
      if (logger) logger->error(L"read file data failed!");
      break;
    case ContainerReadResult::kEntryNotWritten:
      if (logger) logger->error(L"create %s failed!", folder.c_str());
      break;
    case ContainerReadResult::kSuccess:
      break;
  }
  if (logger) logger->debug(L"Load Resource from pe finished.");
  return result == ContainerReadResult::kSuccess;
}

UiPayload::UiPayload(app::Logger* logger) : logger_(logger) { unpackIntoNewFolder(); }

UiPayload::UiPayload(app::Logger* logger, std::wstring executablePath)
    : logger_(logger), executablePath_(std::move(executablePath)) {
  unpackIntoNewFolder();
}

void UiPayload::unpackIntoNewFolder() {
  // The folder is kept only once the subfolder exists: the temporary folder itself must never become
  // the payload folder, or the tear-down would delete all of it.
  std::wstring folder;
  if (!sysenv::createScratchFolder(folder)) {
    if (logger_) logger_->error(L"create temporary folder failed!");
    return;
  }
  payloadFolder_ = folder;
  if (unpackPayload(payloadFolder_)) {
    loaded_ = true;
    if (logger_) logger_->debug(L"load resource success, temporary folder path : %s", payloadFolder_.c_str());
  }
}

UiPayload::~UiPayload() {
  if (!payloadFolder_.empty()) sysenv::deleteFolderTree(payloadFolder_);
}

bool UiPayload::unpackPayload(const std::wstring& folder) {
  if (logger_) logger_->debug(L"Load Resource from pe.");
  if (!executablePath_.empty()) return unpackPayloadFile(executablePath_, folder, logger_);
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  // A path cut at MAX_PATH names some other file.
  if (length == 0 || length >= MAX_PATH) {
    if (logger_) logger_->error(L"get current app full path failed!");
    return false;
  }
  return unpackPayloadFile(path, folder, logger_);
}

std::vector<std::u16string> UiPayload::readLanguageList() const {
  // Without a folder the plain concatenation would name a file relative to the current folder.
  if (payloadFolder_.empty()) return {};
  const std::wstring path = payloadFolder_ + L"js\\installparams.js";
  sysenv::UniqueFileHandle file = sysenv::openScratchFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  if (!file) return {};
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > kLanguageFileLimit) return {};
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return {};
  bytes.resize(read);
  file.reset();
  return scanLanguageList(bytes);
}

void UiPayload::deletePayloadFolder() {
  if (payloadFolder_.empty()) return;
  if (!sysenv::deleteFolderTree(payloadFolder_) && logger_) logger_->error(L"Delete Temp folder failed!");
  payloadFolder_.clear();
}

}  // namespace payload
