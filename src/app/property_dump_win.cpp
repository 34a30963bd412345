// Win32 code.
#include "app/property_dump_win.h"

#include "sysenv/wide_text_win.h"

namespace app {

void writePropertyDump(const InstallProperties& properties, Logger& logger) {
  for (const auto& [key, value] : properties.properties) {
    logger.debug(L"Property %s: %s\n", sysenv::toWide(key).c_str(), sysenv::toWide(value).c_str());
  }
}

}  // namespace app
