// Win32 code.
#include "zip/zip_writer_win.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "miniz.h"
#include "sysenv/scratch_folder_win.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/write_all_win.h"

namespace zip {
namespace {

// A whole file's content in one heap buffer.
struct FileBytes {
  std::unique_ptr<unsigned char[]> data;
  std::size_t size = 0;
  bool read = false;

  bool operator==(const FileBytes& other) const {
    return read && other.read && size == other.size && std::memcmp(data.get(), other.data.get(), size) == 0;
  }
};

// The largest log that goes into an archive: far above any installer's verbose log, and small
// enough that its buffer (one byte more) can neither wrap a 32-bit size nor exhaust the address space.
constexpr LONGLONG kLargestPackedFile = 256LL << 20;

// Reads the whole file with one ReadFile, letting others only read it meanwhile (a file that some
// process has open for writing is not read at all). Nothing is read from a file over
// kLargestPackedFile: the buffer's size must be the file's real size.
FileBytes readWholeFile(const std::wstring& path) {
  FileBytes bytes;
  LARGE_INTEGER size = {};
  {
    // The file itself: a link in its place would put what it leads to (an administrator-only file,
    // say) into an archive that leaves the machine.
    const sysenv::UniqueFileHandle file = sysenv::openScratchFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || size.QuadPart > kLargestPackedFile) {
      return bytes;
    }
    const DWORD wanted = static_cast<DWORD>(size.QuadPart);
    // One byte more than needed: a buffer for an empty file is still a buffer.
    bytes.data.reset(new (std::nothrow) unsigned char[static_cast<std::size_t>(wanted) + 1]);
    if (!bytes.data) return bytes;
    DWORD got = 0;
    if (!::ReadFile(file.get(), bytes.data.get(), wanted, &got, nullptr) || got != wanted) return bytes;
    bytes.size = got;
  }  // the file is closed here, on every path
  bytes.read = true;
  return bytes;
}

// Puts `bytes` back as the file's whole content.
void rewriteFile(const std::wstring& path, const FileBytes& bytes) {
  const sysenv::UniqueFileHandle file = sysenv::openScratchFile(path, GENERIC_WRITE, 0, OPEN_ALWAYS);
  if (!file) return;
  if (sysenv::writeAll(file.get(), bytes.data.get(), bytes.size)) ::SetEndOfFile(file.get());
}

// The NUL-terminated text in `codePage`, into a buffer of `capacity` bytes; false when it does not
// fit or cannot be converted.
bool toEightBit(UINT codePage, DWORD flags, const wchar_t* text, char* buffer, int capacity) {
  return ::WideCharToMultiByte(codePage, flags, text, -1, buffer, capacity, nullptr, nullptr) != 0;
}

enum class ArchiveState { kAbsent, kPresent, kUnknown };

ArchiveState archiveState(const std::wstring& path) {
  if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return ArchiveState::kPresent;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ArchiveState::kAbsent
                                                                        : ArchiveState::kUnknown;
}

}  // namespace

bool AddFileToZip(const std::wstring& sourcePath, const std::wstring& archivePath) {
  // miniz opens the archive through _wfopen after decoding its path as UTF-8, so the path goes to it
  // in UTF-8, never in the ANSI code page: the ANSI bytes of "José" would name another file. The
  // path is held to MAX_PATH characters (three UTF-8 bytes at most each); unpaired surrogates are
  // refused.
  if (std::wcslen(archivePath.c_str()) >= MAX_PATH) return false;
  char archiveName[3 * MAX_PATH];
  if (!toEightBit(CP_UTF8, WC_ERR_INVALID_CHARS, archivePath.c_str(), archiveName, sizeof archiveName)) {
    return false;
  }
  // Item names are in the ANSI code page, which is what zip tools expect without the UTF-8 flag.
  char itemName[MAX_PATH];
  if (!toEightBit(CP_ACP, 0, ::PathFindFileNameW(sourcePath.c_str()), itemName, sizeof itemName)) return false;

  const FileBytes source = readWholeFile(sourcePath);
  if (!source.read) return false;

  // miniz leaves junk behind when appending fails half-way (the new central directory ends before
  // the partly written item does) and cannot delete an archive it created under a non-ASCII path
  // (its clean-up passes the UTF-8 name to the ANSI remove()). So the archive's earlier state is
  // kept here and put back on failure. An archive that cannot be read is not touched at all.
  const ArchiveState before = archiveState(archivePath);
  if (before == ArchiveState::kUnknown) return false;
  FileBytes earlier;
  if (before == ArchiveState::kPresent) {
    earlier = readWholeFile(archivePath);
    if (!earlier.read) return false;
  }

  // Level 9; the ASCII-name flag keeps miniz from marking the ANSI name as UTF-8.
  const mz_uint levelAndFlags = 9 | MZ_ZIP_FLAG_ASCII_FILENAME;
  if (mz_zip_add_mem_to_archive_file_in_place(archiveName, itemName, source.data.get(), source.size, nullptr, 0,
                                              levelAndFlags)) {
    return true;
  }
  if (before == ArchiveState::kAbsent) {
    ::DeleteFileW(archivePath.c_str());
  } else if (!(readWholeFile(archivePath) == earlier)) {
    rewriteFile(archivePath, earlier);
  }
  return false;
}

}  // namespace zip
