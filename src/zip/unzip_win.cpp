// Win32 code.
#include "zip/unzip_win.h"

#include <shlobj.h>

#include <optional>

#include "miniz.h"
#include "sysenv/scope_exit.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/wide_text_win.h"
#include "zip/background_writer_win.h"
#include "zip/folder_maker_win.h"
#include "zip/item_name.h"
#include "zip/item_name_reader_win.h"
#include "zip/space_tally.h"

namespace zip {

namespace {

// What the library hands back to the read function: the archive, and where a short read is reported.
struct ZipFileContext {
  HANDLE file;
  ZipReporter* reporter;
};

// ReadFile moves at most 4 GiB - 1 at once; a larger request comes back short, which the library
// treats as a failure.
DWORD transferSize(size_t count) { return count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count); }

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
  if (read != count && context.reporter != nullptr) context.reporter->ReportError(GetLastError());
  return read;
}

// The one place where an extracted file is made. An existing file is replaced, and a link in its
// place is opened itself, not followed. The full link checks of sysenv::openScratchFile cost about
// 3 ms a file under Wine (they made a 2,000-file package unpack three times slower); the folders
// written here are the run's own, made new under the administrators-only scratch root.
sysenv::UniqueFileHandle createOutputFile(const wchar_t* path) {
  return sysenv::UniqueFileHandle(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// One output file being written. The central directory's size is a promise of the archive, which
// may lie: the library checks it only after handing over up to a whole 32 KiB window more, so the
// writes stop at the stated size themselves.
struct OutputFile {
  BackgroundWriter& writer;
  ZipReporter* reporter;
  mz_uint64 statedSize;
  mz_uint64 written = 0;
  bool failureReported = false;

  // A write that failed is reported once, on this thread, with its own error code.
  void reportWriteFailure() {
    if (failureReported) return;
    failureReported = true;
    if (reporter != nullptr) reporter->ReportError(writer.error());
  }
};

// The library hands over an item's bytes in consecutive pieces from offset 0; they are queued for
// the writing thread, which writes them in order at the file's own position. A piece out of sequence
// or beyond the stated size is refused unwritten (the item then fails as the library's own checks
// would fail it), without a report: it is no system error. A failed write ends the item at the next
// piece.
size_t queuePiece(void* opaque, mz_uint64 offset, const void* data, size_t count) {
  auto& output = *static_cast<OutputFile*>(opaque);
  if (offset != output.written || count > output.statedSize - output.written) return 0;
  if (output.reporter != nullptr && output.reporter->StopRequested()) return 0;
  if (!output.writer.write(data, count)) {
    output.reportWriteFailure();
    return 0;
  }
  output.written += count;
  return count;
}

// Free bytes for the files written in `folder`; no value where no limit can be known or applies: a
// compressed folder may hold more than its volume's free space, so there only the writes decide, as
// they do when the free space is unknown.
std::optional<mz_uint64> freeBytesIn(const wchar_t* folder) {
  const DWORD attributes = GetFileAttributesW(folder);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_COMPRESSED)) return std::nullopt;
  ULARGE_INTEGER available = {};
  if (!GetDiskFreeSpaceExW(folder, &available, nullptr, nullptr)) return std::nullopt;
  return available.QuadPart;
}

// The cluster size of the volume that holds `folder`; 0 when unknown.
mz_uint64 clusterBytesOf(const wchar_t* folder) {
  wchar_t volume[MAX_PATH];
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (!GetVolumePathNameW(folder, volume, MAX_PATH) ||
      !GetDiskFreeSpaceW(volume, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) {
    return 0;
  }
  return static_cast<mz_uint64>(sectorsPerCluster) * bytesPerSector;
}

// The size of the file at `path` that an item would replace, which frees its space; 0 when none.
mz_uint64 replacedFileSize(const wchar_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA replaced;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &replaced) ||
      (replaced.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return 0;
  }
  return (static_cast<mz_uint64>(replaced.nFileSizeHigh) << 32) | replaced.nFileSizeLow;
}

// What one unpacking keeps from item to item.
struct Extraction {
  mz_zip_archive& reader;
  const std::wstring& destination;
  ZipReporter* reporter;
  FolderMaker folders;
  SpaceTally space;
  mz_uint64 clusterBytes;
  BackgroundWriter writer;
};

// Whether an item of `size` bytes can be written at `path`, in `folder`. An item that cannot is
// refused before any of it is written: a small archive that states a huge item (a zip bomb) must not
// fill the volume, which the log and the error report still need. The free space is asked once and
// counted down; only when that tally says no is the volume asked again, now also counting the space
// that a file the item replaces frees.
bool roomFor(Extraction& extraction, const wchar_t* folder, const wchar_t* path, mz_uint64 size) {
  if (extraction.space.fits(size)) return true;
  std::optional<mz_uint64> available = freeBytesIn(folder);
  if (available) *available += replacedFileSize(path);
  extraction.space = available ? SpaceTally(*available, extraction.clusterBytes) : SpaceTally();
  return extraction.space.fits(size);
}

// Writes item `index` under the destination. The name must stay inside the folder (zip/item_name.h)
// once decoded.
bool ExtractItem(Extraction& extraction, mz_uint index) {
  mz_zip_archive_file_stat stat;
  if (!mz_zip_reader_file_stat(&extraction.reader, index, &stat)) return false;
  const std::optional<std::wstring> name = readItemName(extraction.reader, stat);
  if (!name) return false;
  const std::optional<std::u16string> relative = containedItemPath(sysenv::toU16(*name));
  if (!relative) return false;
  const bool isFolder = mz_zip_reader_is_file_a_directory(&extraction.reader, index);
  if (relative->empty()) return isFolder;  // the destination itself, which exists already

  // Joined as PathCombineW would join a resolved relative path, within MAX_PATH.
  std::wstring path = extraction.destination;
  if (path.empty() || path.back() != L'\\') path += L'\\';
  path += sysenv::toWide(*relative);
  if (path.size() >= MAX_PATH) return false;
  if (isFolder) {
    extraction.folders.make(path);  // an existing folder is no failure
    return true;
  }
  // Folders that have no items of their own in the archive are made on the way.
  const std::wstring parent = path.substr(0, path.rfind(L'\\'));
  extraction.folders.make(parent);

  if (!roomFor(extraction, (parent + L'\\').c_str(), path.c_str(), stat.m_uncomp_size)) {
    if (extraction.reporter != nullptr) extraction.reporter->ReportError(ERROR_DISK_FULL);
    return false;
  }
  // What the library cannot unpack (7-Zip's Deflate64, encryption) fails before a file is made.
  if (!stat.m_is_supported) return false;
  sysenv::UniqueFileHandle file = createOutputFile(path.c_str());
  if (!file) return false;

  extraction.writer.begin(file.get(), stat.m_uncomp_size);
  OutputFile output{extraction.writer, extraction.reporter, stat.m_uncomp_size};
  const bool extracted = mz_zip_reader_extract_to_callback(&extraction.reader, index, queuePiece, &output, 0);
  // Every queued piece is written before the file is closed, and before the next item begins.
  const bool written = extraction.writer.finish();
  if (!written) output.reportWriteFailure();
  file.reset();
  if (!extracted || !written) {
    DeleteFileW(path.c_str());
    return false;
  }
  extraction.space.take(stat.m_uncomp_size);
  return true;
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
  const std::optional<mz_uint64> available = freeBytesIn(destinationFolder.c_str());
  const mz_uint64 clusterBytes = available ? clusterBytesOf(destinationFolder.c_str()) : 0;
  Extraction extraction{reader,
                        destinationFolder,
                        reporter,
                        FolderMaker(destinationFolder),
                        available ? SpaceTally(*available, clusterBytes) : SpaceTally(),
                        clusterBytes,
                        {}};
  const mz_uint count = mz_zip_reader_get_num_files(&reader);
  bool allWritten = true;
  for (mz_uint index = 0; index < count && allWritten; ++index) {
    if (reporter != nullptr && reporter->StopRequested()) {
      allWritten = false;
      break;
    }
    if (reporter != nullptr) reporter->ReportProgress(index, count);
    allWritten = ExtractItem(extraction, index);
  }
  if (reporter != nullptr) reporter->ReportProgress(count, count);
  return allWritten;
}

}  // namespace zip
