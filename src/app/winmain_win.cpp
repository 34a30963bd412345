// Win32 code. The graphical entry point: its arguments are ignored (the command line's pass-through
// text and /quiet are read where they are needed). Every path of the window run exits with 0; a
// quiet run exits with a code that says how it ended.
#include <windows.h>

#include "app/startup_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return app::runDownloadManager(); }
