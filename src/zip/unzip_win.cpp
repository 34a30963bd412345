// Win32 code.
#include "zip/unzip_win.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cwchar>
#include <optional>

#include "miniz.h"
#include "sysenv/scope_exit.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/wide_text_win.h"
#include "zip/item_name.h"
#include "zip/item_name_reader_win.h"

namespace zip {

namespace {

// What the library hands back to the file functions: the archive for reading, or one output file
// for writing, and where a short transfer is reported.
struct ZipFileContext {
  HANDLE file;
  ZipReporter* reporter;
};

// One output file. The central directory's size is a promise of the archive, which may lie: the
// library checks it only after handing over up to a whole 32 KiB window more, so the writes stop
// at the stated size themselves.
struct OutputFile {
  ZipFileContext context;
  mz_uint64 statedSize;
  mz_uint64 written;
};

// ReadFile and WriteFile move at most 4 GiB - 1 at once; a larger request comes back short, which
// the library treats as a failure.
DWORD transferSize(size_t count) { return count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count); }

void reportShortTransfer(const ZipFileContext& context) {
  if (context.reporter != nullptr) context.reporter->ReportError(GetLastError());
}

// Reads by position, whatever the handle's file pointer is: the library seeks freely (end record,
// central directory, each local header), and the caller's handle is synchronous, on which an
// OVERLAPPED only carries the offset.
size_t readArchiveAt(void* opaque, mz_uint64 offset, void* buffer, size_t count) {
  const auto& context = *static_cast<const ZipFileContext*>(opaque);
  OVERLAPPED position = {};
  position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  if (!ReadFile(context.file, buffer, transferSize(count), &read, &position)) read = 0;
  if (read != count) reportShortTransfer(context);
  return read;
}

// The library hands over an item's bytes in consecutive pieces from offset 0, so the file's own
// position is always the offset asked for. A write may succeed with fewer bytes than asked for (Wine
// writes what still fits on a full disk and succeeds); the rest is written again, so that the write
// that really fails sets the error code (ERROR_DISK_FULL) that is reported.
// A piece out of sequence or beyond the stated size is refused unwritten (the item then fails as
// the library's own checks would fail it), without a report: it is no system error.
size_t writeAtFilePosition(void* opaque, mz_uint64 offset, const void* data, size_t count) {
  auto& output = *static_cast<OutputFile*>(opaque);
  if (offset != output.written || count > output.statedSize - output.written) return 0;
  if (output.context.reporter != nullptr && output.context.reporter->StopRequested()) return 0;
  const auto* bytes = static_cast<const char*>(data);
  size_t total = 0;
  while (total < count) {
    DWORD written = 0;
    if (!WriteFile(output.context.file, bytes + total, transferSize(count - total), &written, nullptr) ||
        written == 0) {
      break;
    }
    total += written;
  }
  output.written += total;
  if (total != count) reportShortTransfer(output.context);
  return total;
}

// Whether an item of `size` bytes can be written at `path`, in `folder` (ending in a backslash),
// where a file that it replaces frees its own space. An item that cannot is refused before any of it
// is written: a small archive that states a huge item (a zip bomb) must not fill the volume, which
// the log and the error report still need. A compressed folder may hold more than its volume's free
// space, so there only the writes decide, as they do when the free space is unknown.
bool roomFor(const wchar_t* folder, const wchar_t* path, mz_uint64 size) {
  const DWORD attributes = GetFileAttributesW(folder);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_COMPRESSED)) return true;
  ULARGE_INTEGER available = {};
  if (!GetDiskFreeSpaceExW(folder, &available, nullptr, nullptr)) return true;
  WIN32_FILE_ATTRIBUTE_DATA replaced;
  if (GetFileAttributesExW(path, GetFileExInfoStandard, &replaced) &&
      !(replaced.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    available.QuadPart += (static_cast<mz_uint64>(replaced.nFileSizeHigh) << 32) | replaced.nFileSizeLow;
  }
  return size <= available.QuadPart;
}

// Writes item `index` under `destinationFolder`. The name must stay inside the folder
// (zip/item_name.h) once decoded.
bool ExtractItem(mz_zip_archive* reader, mz_uint index, const std::wstring& destinationFolder, ZipReporter* reporter) {
  mz_zip_archive_file_stat stat;
  if (!mz_zip_reader_file_stat(reader, index, &stat)) return false;
  const std::optional<std::wstring> name = readItemName(*reader, stat);
  if (!name) return false;
  const std::optional<std::u16string> relative = containedItemPath(sysenv::toU16(*name));
  if (!relative) return false;
  const bool isFolder = mz_zip_reader_is_file_a_directory(reader, index);
  if (relative->empty()) return isFolder;  // the destination itself, which exists already

  // A UTF-8 name is not cut, so its length is checked here before the join.
  if (destinationFolder.size() + 1 + relative->size() >= MAX_PATH) return false;
  wchar_t path[MAX_PATH];
  if (PathCombineW(path, destinationFolder.c_str(), sysenv::toWide(*relative).c_str()) == nullptr) return false;
  if (isFolder) {
    SHCreateDirectoryExW(nullptr, path, nullptr);  // an existing folder is no failure
    return true;
  }

  // Folders that have no items of their own in the archive are made on the way. The parent is
  // shorter than the path by at least two characters, so its backslash fits.
  wchar_t parent[MAX_PATH];
  std::wcscpy(parent, path);
  PathRemoveFileSpecW(parent);
  SHCreateDirectoryExW(nullptr, parent, nullptr);
  PathAddBackslashW(parent);

  if (!roomFor(parent, path, stat.m_uncomp_size)) {
    if (reporter != nullptr) reporter->ReportError(ERROR_DISK_FULL);
    return false;
  }
  sysenv::UniqueFileHandle file(
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  // A device name ("nul", "com1.txt") opens the device, not a file in the folder: write nothing.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return false;

  OutputFile output{{file.get(), reporter}, stat.m_uncomp_size, 0};
  const bool extracted = mz_zip_reader_extract_to_callback(reader, index, writeAtFilePosition, &output, 0);
  file.reset();
  if (!extracted) DeleteFileW(path);
  return extracted;
}

}  // namespace

bool UnzipToFolder(HANDLE archive, const std::wstring& destinationFolder, ZipReporter* reporter) {
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(archive, &size)) return false;

  ZipFileContext context{archive, reporter};
  mz_zip_archive reader;
  mz_zip_zero_struct(&reader);
  reader.m_pRead = readArchiveAt;
  reader.m_pIO_opaque = &context;
  // Ending also frees what a failed initialisation allocated.
  sysenv::ScopeExit endReader([&reader] { mz_zip_reader_end(&reader); });
  if (!mz_zip_reader_init(&reader, static_cast<mz_uint64>(size.QuadPart), 0)) return false;

  SHCreateDirectoryExW(nullptr, destinationFolder.c_str(), nullptr);
  const mz_uint count = mz_zip_reader_get_num_files(&reader);
  bool allWritten = true;
  for (mz_uint index = 0; index < count && allWritten; ++index) {
    if (reporter != nullptr && reporter->StopRequested()) {
      allWritten = false;
      break;
    }
    if (reporter != nullptr) reporter->ReportProgress(index, count);
    allWritten = ExtractItem(&reader, index, destinationFolder, reporter);
  }
  if (reporter != nullptr) reporter->ReportProgress(count, count);
  return allWritten;
}

}  // namespace zip
