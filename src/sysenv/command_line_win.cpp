// Win32 code. The pass-through text of this process's command line.
#include <windows.h>

#include "sysenv/command_line.h"
#include "sysenv/shell_win.h"
#include "sysenv/wide_text_win.h"

namespace sysenv {

std::wstring getPassthroughArguments() {
  return toWide(passthroughFromCommandLine(toU16(::GetCommandLineW())));
}

}  // namespace sysenv
