// Win32 code. The clock and the memory figure that every benchmark line reports.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>

namespace bench {

// Seconds on the high-resolution counter.
inline double now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// This process's peak working set in MB (1,000,000 bytes); 0 when unknown.
inline double peakWorkingSetMb() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<double>(counters.PeakWorkingSetSize) / 1e6;
}

// The one line a benchmark prints:
//   method=<m> bytes=<n> seconds=<s> mbps=<MB/s> peak_ws_mb=<peak working set in MB>
inline void printResultLine(const wchar_t* method, std::uint64_t bytes, double seconds) {
  const double divisor = seconds > 0 ? seconds : 1e-9;
  std::printf("method=%ls bytes=%llu seconds=%.3f mbps=%.1f peak_ws_mb=%.1f\n", method,
              static_cast<unsigned long long>(bytes), seconds, static_cast<double>(bytes) / 1e6 / divisor,
              peakWorkingSetMb());
}

}  // namespace bench
