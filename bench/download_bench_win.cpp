// Win32 code. download_bench <stub|urlmon> <url> <expected-bytes>
// Fetches the URL once, with the stub's own download engine or with the platform's
// URLDownloadToFileW, and prints one line:
//   method=<m> bytes=<n> seconds=<s> mbps=<MB/s> peak_ws_mb=<peak working set in MB>
// (MB = 1,000,000 bytes). Exit code 0 when the file has the expected size, 1 when not, 2 on bad use.
#include <windows.h>
#include <urlmon.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>

#include "app/install_properties.h"
#include "app/logger_win.h"
#include "downloadmanagercore/html_external_win.h"
#include "bench_support_win.h"

namespace {

struct Outcome {
  bool transferred = false;
  std::uint64_t bytes = 0;
  double seconds = 0;
};

std::uint64_t fileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// As the download command runs it: on a worker thread of the multithreaded apartment; the object's
// work folder (with the file) goes with it.
Outcome downloadWithStub(const std::wstring& url) {
  app::Logger logger;
  app::InstallProperties record(u"KRV", u"1.0.20.1", app::RunEnvironment{});
  auto* external = new downloadmanagercore::HtmlExternal(&record, nullptr, &logger);
  Outcome outcome;
  std::thread worker([&] {
    const bool apartment = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    const double start = bench::now();
    const std::int32_t result = external->DownloadPackage(url);
    outcome.seconds = bench::now() - start;
    outcome.transferred = result == 0;
    if (result != 0) std::fprintf(stderr, "download_bench: DownloadPackage returned %d\n", static_cast<int>(result));
    outcome.bytes = fileSize(external->downloadPath());
    if (apartment) CoUninitialize();
  });
  worker.join();
  external->Release();
  return outcome;
}

Outcome downloadWithUrlmon(const std::wstring& url) {
  wchar_t folder[MAX_PATH], file[MAX_PATH];
  Outcome outcome;
  if (GetTempPathW(MAX_PATH, folder) == 0 || GetTempFileNameW(folder, L"dlb", 0, file) == 0) return outcome;
  const double start = bench::now();
  const HRESULT hr = URLDownloadToFileW(nullptr, url.c_str(), file, 0, nullptr);
  outcome.seconds = bench::now() - start;
  outcome.transferred = SUCCEEDED(hr);
  if (FAILED(hr)) std::fprintf(stderr, "download_bench: URLDownloadToFileW failed: 0x%08lx\n", static_cast<unsigned long>(hr));
  outcome.bytes = fileSize(file);
  DeleteFileW(file);
  return outcome;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring method = argc == 4 ? argv[1] : L"";
  if (method != L"stub" && method != L"urlmon") {
    std::fprintf(stderr, "usage: download_bench <stub|urlmon> <url> <expected-bytes>\n");
    return 2;
  }
  const std::uint64_t expected = std::wcstoull(argv[3], nullptr, 10);
  const Outcome outcome = method == L"stub" ? downloadWithStub(argv[2]) : downloadWithUrlmon(argv[2]);
  bench::printResultLine(method.c_str(), outcome.bytes, outcome.seconds);
  if (outcome.transferred && outcome.bytes == expected) return 0;
  std::fprintf(stderr, "download_bench: expected %llu bytes\n", static_cast<unsigned long long>(expected));
  return 1;
}
