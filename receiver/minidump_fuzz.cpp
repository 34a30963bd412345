// libFuzzer target: the fuzz input is an upload taken as a crash dump and as a log archive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "receiver/log_archive.h"
#include "receiver/minidump.h"
#include "receiver/text_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto dump = receiver::readMinidump(bytes, error);
  if (dump) {
    if (dump->modules.size() > receiver::kMaxDumpModules) std::abort();
    for (const receiver::DumpModule& module : dump->modules) {
      if (!receiver::isCleanUtf8(module.name)) std::abort();
    }
    if (!receiver::isCleanUtf8(receiver::crashSignature(*dump))) std::abort();
  } else if (error.empty()) {
    std::abort();
  }
  const auto archive = receiver::readLogArchive(bytes, error);
  if (archive && archive->errorLines.size() > receiver::kMaxErrorLines) std::abort();
  return 0;
}
