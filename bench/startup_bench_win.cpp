// Win32 code. startup_bench <stub> <collector requests folder> <runs>
// Starts the packed stub as a user does (no arguments) `runs` times, one after another, and measures
// from the process's creation to the report collector's first recorded request (the start report,
// sent once the payload is unpacked and the environment gathered), and to the process's end. Prints
// one line with the medians:
//   method=stub first_report_ms=<ms> exit_ms=<ms> peak_ws_mb=<the stub's peak working set in MB>
// Exit code 0 when every run reported, 1 when one did not, 2 on bad use.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "bench_support_win.h"
#include "sysenv/unique_handle_win.h"

namespace {

constexpr DWORD kRunTimeoutMs = 60000;

std::size_t requestCount(const std::wstring& folder) {
  std::size_t count = 0;
  WIN32_FIND_DATAW found;
  sysenv::UniqueFindHandle search(FindFirstFileW((folder + L"\\*.request").c_str(), &found));
  if (!search) return 0;
  do {
    ++count;
  } while (FindNextFileW(search.get(), &found));
  return count;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

struct Run {
  bool reported = false;
  double firstReportMs = 0;
  double exitMs = 0;
  double peakWorkingSetMb = 0;
};

Run runOnce(const std::wstring& stub, const std::wstring& requests) {
  Run run;
  const std::size_t before = requestCount(requests);
  std::wstring commandLine = L"\"" + stub + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const double started = bench::now();
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return run;
  }
  sysenv::UniqueKernelHandle processHandle(process.hProcess);
  sysenv::UniqueKernelHandle threadHandle(process.hThread);
  // The collector writes each request as a file before it answers; a millisecond's polling is finer
  // than anything measured here. The peak working set is read while the process lives (Wine keeps
  // no counters for an ended one).
  while (bench::now() - started < kRunTimeoutMs / 1000.0) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(processHandle.get(), &counters, sizeof counters)) {
      run.peakWorkingSetMb = std::max(run.peakWorkingSetMb, static_cast<double>(counters.PeakWorkingSetSize) / 1e6);
    }
    if (!run.reported && requestCount(requests) > before) {
      run.reported = true;
      run.firstReportMs = (bench::now() - started) * 1000;
    }
    if (WaitForSingleObject(processHandle.get(), 1) == WAIT_OBJECT_0) break;
  }
  if (!run.reported && requestCount(requests) > before) {
    run.reported = true;
    run.firstReportMs = (bench::now() - started) * 1000;
  }
  WaitForSingleObject(processHandle.get(), kRunTimeoutMs);
  run.exitMs = (bench::now() - started) * 1000;
  return run;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: startup_bench <stub> <collector requests folder> <runs>\n");
    return 2;
  }
  const int runs = std::max(1, _wtoi(argv[3]));
  std::vector<double> firstReport, exit, peak;
  for (int i = 0; i < runs; ++i) {
    const Run run = runOnce(argv[1], argv[2]);
    if (!run.reported) {
      std::fprintf(stderr, "run %d: no report reached the collector\n", i + 1);
      return 1;
    }
    firstReport.push_back(run.firstReportMs);
    exit.push_back(run.exitMs);
    peak.push_back(run.peakWorkingSetMb);
  }
  std::printf("method=stub first_report_ms=%.0f exit_ms=%.0f peak_ws_mb=%.1f\n", median(firstReport), median(exit),
              median(peak));
  return 0;
}
