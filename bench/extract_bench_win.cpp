// Win32 code. extract_bench <archive> <destination> [inflate|write]
// Unpacks the archive into the destination folder once, as the package extraction does, and prints
// one line:
//   method=stub bytes=<uncompressed bytes written> seconds=<s> mbps=<MB/s> peak_ws_mb=<peak working set in MB>
// (MB = 1,000,000 bytes). The bytes are counted on disk afterwards, not taken from the archive.
// The two halves of the work, to tell which one limits it: "inflate" inflates every item to nowhere
// (method=inflate, the bytes inflated), "write" writes files of the items' sizes and names from
// memory, one after the other on this thread (method=write, the bytes on disk).
// Exit code 0 when the unpacking succeeded, 1 when not, 2 on bad use. The destination is left for
// the caller to delete.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "miniz.h"
#include "sysenv/unique_handle_win.h"
#include "zip/unzip_win.h"
#include "bench_support_win.h"

namespace {

// Bytes in the files below `folder`.
std::uint64_t bytesBelow(const std::wstring& folder) {
  std::uint64_t total = 0;
  WIN32_FIND_DATAW found;
  const sysenv::UniqueFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!search) return 0;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      total += bytesBelow(folder + L"\\" + name);
    } else {
      total += (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    }
  } while (FindNextFileW(search.get(), &found));
  return total;
}

// As the stub reads its archive: the file pointer moved, then a plain read.
size_t readAt(void* opaque, mz_uint64 offset, void* buffer, size_t count) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  DWORD read = 0;
  if (!SetFilePointerEx(static_cast<HANDLE>(opaque), position, nullptr, FILE_BEGIN) ||
      !ReadFile(static_cast<HANDLE>(opaque), buffer, static_cast<DWORD>(count), &read, nullptr)) {
    return 0;
  }
  return read;
}

size_t discard(void* total, mz_uint64, const void*, size_t count) {
  *static_cast<std::uint64_t*>(total) += count;
  return count;
}

// Calls `each` with the reader and every file item's index; false when the archive is refused.
template <typename Each>
bool forEachFileItem(HANDLE archive, Each each) {
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(archive, &size)) return false;
  mz_zip_archive reader;
  mz_zip_zero_struct(&reader);
  reader.m_pRead = readAt;
  reader.m_pIO_opaque = archive;
  if (!mz_zip_reader_init(&reader, static_cast<mz_uint64>(size.QuadPart), 0)) return false;
  bool ok = true;
  for (mz_uint i = 0; i < mz_zip_reader_get_num_files(&reader) && ok; ++i) {
    if (!mz_zip_reader_is_file_a_directory(&reader, i)) ok = each(reader, i);
  }
  mz_zip_reader_end(&reader);
  return ok;
}

bool inflateOnly(HANDLE archive, std::uint64_t& bytes) {
  return forEachFileItem(archive, [&bytes](mz_zip_archive& reader, mz_uint i) {
    return mz_zip_reader_extract_to_callback(&reader, i, discard, &bytes, 0) != 0;
  });
}

// The items' sizes written from memory to files named after them (ASCII names: the benchmark's own
// packages), in 256 KiB writes: the write path without the inflater.
bool writeOnly(HANDLE archive, const std::wstring& destination) {
  static char buffer[256 * 1024];
  CreateDirectoryW(destination.c_str(), nullptr);
  return forEachFileItem(archive, [&destination](mz_zip_archive& reader, mz_uint i) {
    mz_zip_archive_file_stat stat;
    if (!mz_zip_reader_file_stat(&reader, i, &stat)) return false;
    std::wstring path = destination;
    for (const char* c = stat.m_filename; *c != 0; ++c) {
      if (*c == '/') CreateDirectoryW(path.c_str(), nullptr);
      path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    }
    const sysenv::UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    for (mz_uint64 left = stat.m_uncomp_size; left > 0;) {
      const DWORD part = static_cast<DWORD>(left < sizeof buffer ? left : sizeof buffer);
      DWORD written = 0;
      if (!WriteFile(file.get(), buffer, part, &written, nullptr) || written != part) return false;
      left -= part;
    }
    return true;
  });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc == 4 ? argv[3] : L"";
  if ((argc != 3 && argc != 4) || (argc == 4 && mode != L"inflate" && mode != L"write")) {
    std::fprintf(stderr, "usage: extract_bench <archive> <destination> [inflate|write]\n");
    return 2;
  }
  const sysenv::UniqueFileHandle archive(
      CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!archive) {
    std::fprintf(stderr, "extract_bench: cannot open %ls (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  const std::wstring destination = argv[2];
  if (!mode.empty()) {
    std::uint64_t inflated = 0;
    const double start = bench::now();
    const bool done = mode == L"inflate" ? inflateOnly(archive.get(), inflated) : writeOnly(archive.get(), destination + L"\\");
    const double seconds = bench::now() - start;
    bench::printResultLine(mode.c_str(), mode == L"inflate" ? inflated : bytesBelow(destination), seconds);
    return done ? 0 : 1;
  }
  const double start = bench::now();
  const bool unpacked = zip::UnzipToFolder(archive.get(), destination, nullptr);
  const double seconds = bench::now() - start;
  bench::printResultLine(L"stub", bytesBelow(destination), seconds);
  if (unpacked) return 0;
  std::fprintf(stderr, "extract_bench: UnzipToFolder failed\n");
  return 1;
}
