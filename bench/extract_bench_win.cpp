// Win32 code. extract_bench <archive> <destination>
// Unpacks the archive into the destination folder once, as the package extraction does, and prints
// one line:
//   method=stub bytes=<uncompressed bytes written> seconds=<s> mbps=<MB/s> peak_ws_mb=<peak working set in MB>
// (MB = 1,000,000 bytes). The bytes are counted on disk afterwards, not taken from the archive.
// Exit code 0 when the unpacking succeeded, 1 when not, 2 on bad use. The destination is left for
// the caller to delete.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

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

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: extract_bench <archive> <destination>\n");
    return 2;
  }
  const sysenv::UniqueFileHandle archive(
      CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!archive) {
    std::fprintf(stderr, "extract_bench: cannot open %ls (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  const std::wstring destination = argv[2];
  const double start = bench::now();
  const bool unpacked = zip::UnzipToFolder(archive.get(), destination, nullptr);
  const double seconds = bench::now() - start;
  bench::printResultLine(L"stub", bytesBelow(destination), seconds);
  if (unpacked) return 0;
  std::fprintf(stderr, "extract_bench: UnzipToFolder failed\n");
  return 1;
}
