// A crash dump as the stub's crash filter uploads it (MiniDumpWriteDump's format), read from memory
// without trusting a single offset: its exception stream and module list, enough to say which code
// crashed where. Everything else in the dump is kept on disk as it came, unread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace receiver {

struct DumpModule {
  std::string name;  // the file's bare name, as clean UTF-8
  std::uint64_t base = 0;
  std::uint32_t size = 0;
};

struct DumpSummary {
  std::uint32_t exceptionCode = 0;
  std::uint64_t exceptionAddress = 0;
  std::uint32_t threadId = 0;
  // The module whose image holds the exception address, and the offset into it; "?" and the
  // address itself when none does.
  std::string faultingModule;
  std::uint64_t offset = 0;
  std::vector<DumpModule> modules;
};

// Limits: streams in the directory, modules listed, bytes of a module name.
inline constexpr std::uint32_t kMaxDumpStreams = 4096;
inline constexpr std::uint32_t kMaxDumpModules = 4096;
inline constexpr std::uint32_t kMaxModuleNameBytes = 2048;

// The summary, or nothing with `error` set for bytes that are not a minidump with an exception
// stream (a dump of a crash always has one) or whose streams lie outside the file.
std::optional<DumpSummary> readMinidump(std::string_view bytes, std::string& error);

// The crash signature that groups dumps: "C0000005 SorvaneProSetup.exe+0x1a2b".
std::string crashSignature(const DumpSummary& summary);

}  // namespace receiver
