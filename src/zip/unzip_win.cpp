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

namespace zip {

namespace {

// What the library hands back to the file functions: the archive for reading, or one output file
// for writing, and where a short transfer is reported.
struct ZipFileContext {
  HANDLE file;
  ZipReporter* reporter;
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
size_t writeAtFilePosition(void* opaque, mz_uint64 /*offset*/, const void* data, size_t count) {
  const auto& context = *static_cast<const ZipFileContext*>(opaque);
  const auto* bytes = static_cast<const char*>(data);
  size_t total = 0;
  while (total < count) {
    DWORD written = 0;
    if (!WriteFile(context.file, bytes + total, transferSize(count - total), &written, nullptr) || written == 0) {
      break;
    }
    total += written;
  }
  if (total != count) reportShortTransfer(context);
  return total;
}

// Writes item `index` under `destinationFolder`. Names are read in the ANSI code page whatever the
// item's flags say, cut to MAX_PATH - 1 bytes, and must stay inside the folder (zip/item_name.h).
bool ExtractItem(mz_zip_archive* reader, mz_uint index, const std::wstring& destinationFolder, ZipReporter* reporter) {
  char storedName[MAX_PATH];
  mz_zip_reader_get_filename(reader, index, storedName, MAX_PATH);  // at most 259 bytes, then a NUL
  wchar_t name[MAX_PATH];
  if (MultiByteToWideChar(CP_ACP, 0, storedName, -1, name, MAX_PATH) == 0) return false;
  std::replace(name, name + std::wcslen(name), L'/', L'\\');

  const std::optional<std::u16string> relative = containedItemPath(sysenv::toU16(name));
  if (!relative) return false;
  const bool isFolder = mz_zip_reader_is_file_a_directory(reader, index);
  if (relative->empty()) return isFolder;  // the destination itself, which exists already

  wchar_t path[MAX_PATH];
  if (PathCombineW(path, destinationFolder.c_str(), sysenv::toWide(*relative).c_str()) == nullptr) return false;
  if (isFolder) {
    SHCreateDirectoryExW(nullptr, path, nullptr);  // an existing folder is no failure
    return true;
  }

  // Folders that have no items of their own in the archive are made on the way.
  wchar_t parent[MAX_PATH];
  std::wcscpy(parent, path);
  PathRemoveFileSpecW(parent);
  SHCreateDirectoryExW(nullptr, parent, nullptr);

  sysenv::UniqueFileHandle file(
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  // A device name ("nul", "com1.txt") opens the device, not a file in the folder: write nothing.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return false;

  ZipFileContext context{file.get(), reporter};
  const bool extracted = mz_zip_reader_extract_to_callback(reader, index, writeAtFilePosition, &context, 0);
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
    if (reporter != nullptr) reporter->ReportProgress(index, count);
    allWritten = ExtractItem(&reader, index, destinationFolder, reporter);
  }
  if (reporter != nullptr) reporter->ReportProgress(count, count);
  return allWritten;
}

}  // namespace zip
