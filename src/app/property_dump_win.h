// Win32 code. Writes the property map into the log before an error run's log is archived.
#pragma once

#include "app/install_properties.h"
#include "app/logger_win.h"

namespace app {

// One "Property <key>: <value>" line per entry, in key order. The format carries its own line
// break, so each entry is followed by an empty line in the file: the upload's readers rely on it.
void writePropertyDump(const InstallProperties& properties, Logger& logger);

}  // namespace app
