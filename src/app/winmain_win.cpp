// Win32 code. The graphical entry point: its arguments are ignored (the command line's pass-through
// text and /quiet are read where they are needed). Every path of the window run exits with 0; a
// quiet run exits with a code that says how it ended.
#include <windows.h>

#include <cstdlib>

#include "app/startup_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return app::runDownloadManager(); }

// What ends the program when a C++ exception escapes or the library gives up. The C++ library's
// own handler writes the exception's demangled type name to standard error, which a program without
// a console never shows, and for that it links in its whole demangler (about 46 KB of the stub's
// code). Defined here, in the program's own object rather than in a library, so that the linker
// takes it before it would look in the C++ library's archive; the end is the same: abort.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
