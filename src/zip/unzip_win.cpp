// Win32 code.
#include "zip/unzip_win.h"

#include <shlobj.h>

#include <cstring>
#include <memory>
#include <optional>

#include "miniz.h"
#include "sysenv/scope_exit.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/wide_text_win.h"
#include "zip/background_writer_win.h"
#include "zip/item_name.h"
#include "zip/item_name_reader_win.h"
#include "zip/space_tally.h"

namespace zip {

namespace {

// What the library hands back to the read function: the archive, and the first short read's error
// code. It is reported by the caller, not here: the next item is read while the last one is still
// being written, and nothing may be reported of an item that the failure of the one before it would
// never have let begin.
struct ZipFileContext {
  HANDLE file;
  DWORD keptReadError = 0;
  bool readFailed = false;
};

// ReadFile moves at most 4 GiB - 1 at once; a larger request comes back short, which the library
// treats as a failure.
DWORD transferSize(size_t count) { return count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count); }

// Reads by position: the library seeks freely (end record, central directory, each local header).
// The file pointer is moved first rather than the offset given in an OVERLAPPED: under Wine a read
// with an OVERLAPPED costs a wineserver request of its own, and an unpacking makes thousands.
size_t readArchiveAt(void* opaque, mz_uint64 offset, void* buffer, size_t count) {
  auto& context = *static_cast<ZipFileContext*>(opaque);
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  DWORD read = 0;
  if (!SetFilePointerEx(context.file, position, nullptr, FILE_BEGIN) ||
      !ReadFile(context.file, buffer, transferSize(count), &read, nullptr)) {
    read = 0;
  }
  if (read != count && !context.readFailed) {
    context.keptReadError = GetLastError();
    context.readFailed = true;
  }
  return read;
}

// An item too large for one of the writer's buffers, handed over in pieces as the library inflates
// it. The central directory's size is a promise of the archive, which may lie: the library checks it
// only after handing over up to a whole 32 KiB window more, so the pieces stop at the stated size
// themselves.
struct StreamedFile {
  BackgroundWriter& writer;
  ZipReporter* reporter;
  const std::wstring& path;
  mz_uint64 statedSize;
  mz_uint64 taken = 0;
  char* buffer = nullptr;
  std::size_t filled = 0;
  bool begun = false;

  // Passes the filled buffer on; false once the writing has failed.
  bool handOver(bool closes, bool keep = true) {
    writer.handOver(filled, begun ? BackgroundWriter::Begins::kNothing : BackgroundWriter::Begins::kFile, path,
                    closes, keep);
    begun = true;
    buffer = nullptr;
    filled = 0;
    return !writer.progress().failed;
  }
};

// The library hands over an item's bytes in consecutive pieces from offset 0; they are gathered into
// the writer's buffers. A piece out of sequence or beyond the stated size is refused unwritten (the
// item then fails as the library's own checks would fail it), without a report: it is no system
// error. A failed write ends the item at the next full buffer.
size_t gatherPiece(void* opaque, mz_uint64 offset, const void* data, size_t count) {
  auto& output = *static_cast<StreamedFile*>(opaque);
  if (offset != output.taken || count > output.statedSize - output.taken) return 0;
  if (output.reporter != nullptr && output.reporter->StopRequested()) return 0;
  const auto* bytes = static_cast<const char*>(data);
  for (std::size_t left = count; left > 0;) {
    if (output.buffer == nullptr) output.buffer = output.writer.buffer();
    const std::size_t room = BackgroundWriter::kBufferBytes - output.filled;
    const std::size_t part = left < room ? left : room;
    std::memcpy(output.buffer + output.filled, bytes, part);
    output.filled += part;
    bytes += part;
    left -= part;
    if (output.filled == BackgroundWriter::kBufferBytes && !output.handOver(false)) return 0;
  }
  output.taken += count;
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
  ZipFileContext& archive;
  const std::wstring& destination;
  ZipReporter* reporter;
  SpaceTally space;
  mz_uint64 clusterBytes;
  BackgroundWriter writer;
  std::unique_ptr<char[]> readBuffer;  // the compressed bytes of an item inflated whole
  mz_uint itemsReported = 0;           // items whose progress has been reported
};

constexpr std::size_t kReadBufferBytes = 64 * 1024;

// Whether an item of `size` bytes can be written at `path`, in `folder`. An item that cannot is
// refused before any of it is written: a small archive that states a huge item (a zip bomb) must not
// fill the volume, which the log and the error report still need. The free space is asked once and
// counted down as items are handed to the writer; only when that tally says no is the volume asked
// again, once the writer has caught up, now also counting the space that a file the item replaces
// frees.
bool roomFor(Extraction& extraction, const wchar_t* folder, const wchar_t* path, mz_uint64 size) {
  if (extraction.space.fits(size)) return true;
  extraction.writer.wait();
  std::optional<mz_uint64> available = freeBytesIn(folder);
  if (available) *available += replacedFileSize(path);
  extraction.space = available ? SpaceTally(*available, extraction.clusterBytes) : SpaceTally();
  return extraction.space.fits(size);
}

// One item, read and checked, and inflated into one of the writer's buffers when it fits there: all
// that can be done while the items before it are still being written, since none of it shows.
struct PreparedItem {
  mz_uint index = 0;
  bool named = false;  // the name decoded and its path inside the destination and within MAX_PATH
  bool isFolder = false;
  bool isDestination = false;  // names the destination itself, which exists already
  std::wstring path;
  mz_zip_archive_file_stat stat = {};
  bool fitsBuffer = false;
  bool inflated = false;  // whole, into the writer's buffer
  std::size_t bytes = 0;  // how many of the buffer's bytes are the file
};

PreparedItem prepareItem(Extraction& extraction, mz_uint index) {
  PreparedItem item;
  item.index = index;
  extraction.archive.readFailed = false;
  if (!mz_zip_reader_file_stat(&extraction.reader, index, &item.stat)) return item;
  const std::optional<std::wstring> name = readItemName(extraction.reader, item.stat);
  if (!name) return item;
  // The name must stay inside the folder (zip/item_name.h) once decoded.
  const std::optional<std::u16string> relative = containedItemPath(sysenv::toU16(*name));
  if (!relative) return item;
  item.isFolder = mz_zip_reader_is_file_a_directory(&extraction.reader, index);
  if (relative->empty()) {
    item.named = item.isDestination = true;
    return item;
  }
  // Joined as PathCombineW would join a resolved relative path, within MAX_PATH.
  item.path = extraction.destination;
  if (item.path.empty() || item.path.back() != L'\\') item.path += L'\\';
  item.path += sysenv::toWide(*relative);
  if (item.path.size() >= MAX_PATH) return item;
  item.named = true;
  item.fitsBuffer = !item.isFolder && item.stat.m_uncomp_size <= BackgroundWriter::kBufferBytes;
  if (!item.fitsBuffer || !item.stat.m_is_supported) return item;
  // The library inflates into the buffer directly, checks the CRC-32, and fails an item that inflates
  // to more or less than its stated size. What it cannot unpack (7-Zip's Deflate64, encryption) fails.
  // Two lies it lets pass here are judged as its piecewise path judges them: an item without
  // compressed bytes is an empty file whatever size it states, and a stored item whose two sizes
  // differ fails.
  if (item.stat.m_comp_size == 0) {
    item.inflated = true;
  } else if (item.stat.m_method != 0 || item.stat.m_comp_size == item.stat.m_uncomp_size) {
    item.bytes = static_cast<std::size_t>(item.stat.m_uncomp_size);
    item.inflated = mz_zip_reader_extract_to_mem_no_alloc(&extraction.reader, index, extraction.writer.buffer(),
                                                          item.bytes, 0, extraction.readBuffer.get(), kReadBufferBytes);
  }
  return item;
}

// Inflates an item larger than a buffer into the writer piece by piece; its file is deleted again when
// anything fails.
bool streamItem(Extraction& extraction, const PreparedItem& item) {
  StreamedFile output{extraction.writer, extraction.reporter, item.path, item.stat.m_uncomp_size};
  if (mz_zip_reader_extract_to_callback(&extraction.reader, item.index, gatherPiece, &output, 0)) {
    return output.handOver(true);
  }
  if (output.begun) output.handOver(true, false);
  return false;
}

// How handing an item over ended, when it did not: the system error code to report for it, if any.
struct Refusal {
  DWORD error = 0;
};

// Hands a prepared item to the writer. No value when it was handed over; otherwise why not.
std::optional<Refusal> handItemOver(Extraction& extraction, const PreparedItem& item) {
  using Begins = BackgroundWriter::Begins;
  if (!item.named || (item.isDestination && !item.isFolder)) return Refusal{};
  if (item.isDestination) {
    extraction.writer.handOver(0, Begins::kNothing, std::wstring(), true);
    return std::nullopt;
  }
  if (item.isFolder) {
    extraction.writer.handOver(0, Begins::kFolder, item.path, true);
    return std::nullopt;
  }
  const std::wstring folder = item.path.substr(0, item.path.rfind(L'\\') + 1);
  if (!roomFor(extraction, folder.c_str(), item.path.c_str(), item.stat.m_uncomp_size)) return Refusal{ERROR_DISK_FULL};
  if (!item.stat.m_is_supported) return Refusal{};
  if (item.fitsBuffer) {
    if (!item.inflated) return Refusal{};
    extraction.writer.handOver(item.bytes, Begins::kFile, item.path, true);
  } else if (!streamItem(extraction, item)) {
    return Refusal{};
  }
  extraction.space.take(item.stat.m_uncomp_size);
  return std::nullopt;
}

// Reports the progress of every item up to `last` (at most the last item) not yet reported: an item's
// progress is told once the items before it are on disk.
void reportProgressUpTo(Extraction& extraction, mz_uint last, mz_uint count) {
  for (; extraction.itemsReported <= last && extraction.itemsReported < count; ++extraction.itemsReported) {
    if (extraction.reporter != nullptr) extraction.reporter->ReportProgress(extraction.itemsReported, count);
  }
}

// Where the caller stopped handing items over, when it did not get through them all.
struct Halt {
  mz_uint index;       // the item it stopped at
  bool begun;          // whether that item's progress counts (it was refused, not stopped before)
  DWORD error = 0;     // the item's own error, told only when every item before it was written
};

// Waits for the writer and tells how the unpacking ended: the progress up to the item that failed,
// and its error, then the end. True when every item is on disk.
bool finishUnpacking(Extraction& extraction, mz_uint count, std::optional<Halt> halt) {
  const BackgroundWriter::Progress written = extraction.writer.wait();
  DWORD error = 0;
  if (written.failed) {
    reportProgressUpTo(extraction, static_cast<mz_uint>(written.itemsDone), count);
    error = written.error;
  } else if (!halt) {
    reportProgressUpTo(extraction, count, count);
  } else if (halt->begun) {
    reportProgressUpTo(extraction, halt->index, count);
    error = halt->error;
    if (error == 0 && extraction.archive.readFailed) error = extraction.archive.keptReadError;
  } else if (halt->index > 0) {
    reportProgressUpTo(extraction, halt->index - 1, count);
  }
  if (error != 0 && extraction.reporter != nullptr) extraction.reporter->ReportError(error);
  if (extraction.reporter != nullptr) extraction.reporter->ReportProgress(count, count);
  return !written.failed && !halt;
}

}  // namespace

bool UnzipToFolder(HANDLE archive, const std::wstring& destinationFolder, ZipReporter* reporter) {
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(archive, &size)) return false;

  ZipFileContext context{archive};
  mz_zip_archive reader;
  mz_zip_zero_struct(&reader);
  reader.m_pRead = readArchiveAt;
  reader.m_pIO_opaque = &context;
  // Ending also frees what a failed initialisation allocated.
  sysenv::ScopeExit endReader([&reader] { mz_zip_reader_end(&reader); });
  if (!mz_zip_reader_init(&reader, static_cast<mz_uint64>(size.QuadPart), 0)) {
    if (context.readFailed && reporter != nullptr) reporter->ReportError(context.keptReadError);
    return false;
  }

  SHCreateDirectoryExW(nullptr, destinationFolder.c_str(), nullptr);
  const std::optional<mz_uint64> available = freeBytesIn(destinationFolder.c_str());
  const mz_uint64 clusterBytes = available ? clusterBytesOf(destinationFolder.c_str()) : 0;
  Extraction extraction{reader,
                        context,
                        destinationFolder,
                        reporter,
                        available ? SpaceTally(*available, clusterBytes) : SpaceTally(),
                        clusterBytes,
                        BackgroundWriter(destinationFolder),
                        std::unique_ptr<char[]>(new char[kReadBufferBytes])};
  const mz_uint count = mz_zip_reader_get_num_files(&reader);
  for (mz_uint index = 0; index < count; ++index) {
    // A stop asked for ends the unpacking before this item, once what was handed over is written.
    if (reporter != nullptr && reporter->StopRequested()) return finishUnpacking(extraction, count, Halt{index, false});
    // Inflating this item overlaps the writing of the ones before; its progress and whatever else
    // shows of it come only once they are on disk, in order.
    const PreparedItem item = prepareItem(extraction, index);
    const BackgroundWriter::Progress written = extraction.writer.progress();
    if (written.failed) return finishUnpacking(extraction, count, std::nullopt);
    reportProgressUpTo(extraction, static_cast<mz_uint>(written.itemsDone), count);
    if (const std::optional<Refusal> refusal = handItemOver(extraction, item)) {
      return finishUnpacking(extraction, count, Halt{index, true, refusal->error});
    }
  }
  return finishUnpacking(extraction, count, std::nullopt);
}

}  // namespace zip
