// Win32 code. The graphical entry point: its arguments are ignored (the command line's pass-through
// text is read while the install properties are built) and every path exits with 0.
#include <windows.h>

#include "app/startup_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return app::runDownloadManager(); }
