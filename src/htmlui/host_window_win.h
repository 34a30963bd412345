// Win32 code. The program's one window: a borderless top-level window of class "HTMLUI" whose whole
// client area is the HTML document, the message loop that runs until the page or the user closes it,
// and the rule that turns a page's requested size into a DPI-scaled, centred window rectangle.
// UI thread only, inside a single-threaded COM apartment.
#pragma once

#include <windows.h>

namespace htmlui {

class MSHTMLClient;
class MSHTMLExternal;

// Another instance finds the running one's window by this class name.
constexpr wchar_t kHostWindowClassName[] = L"HTMLUI";

// The record behind a host window, in its window extra bytes. Field order is fixed: other code reads
// the close flag through it.
struct HostWindowData {
  MSHTMLClient* site;            // owns the site's one reference
  MSHTMLExternal* scriptObject;  // window.external; not owned, no reference
  HWND focusWindow;              // child that had the focus when the window was last deactivated
  bool* closeRequested;          // the running loop's flag; setting it ends the loop
};

// Registers the class once per process; true when it is registered (now or earlier).
bool registerHostWindowClass();
// The class atom, or 0 before registration.
ATOM hostWindowClassAtom();

// Creates the window over the page (a URL or file path) with the script object (may be null), runs
// the message loop until the window is asked to close (WM_CLOSE, requestHostWindowClose) or a
// WM_QUIT arrives (it is posted again for an outer loop), then destroys the window. False when the
// window cannot be created: no page path, no HTML document object, or the page does not start
// loading; the script object has then been attached and detached again and nothing is left over.
// Registers the class first if that has not happened yet.
bool runHostWindow(const wchar_t* pagePath, MSHTMLExternal* scriptObject);

// The window rectangle, in screen coordinates, for a client area of width x height page pixels:
// scaled by the screen's logical DPI, grown by the frame of the window's styles, centred on the owner
// (or, without one, on the work area of the monitor under the cursor) and kept inside that monitor's
// work area; a window larger than the work area starts at its left or top edge.
RECT computeWindowRect(HWND window, int width, int height);

// The record of a host window of this process, or null for any other window (another class, another
// process, or a host window that is being destroyed).
HostWindowData* hostWindowData(HWND window);

// Asks a host window's loop to end, as the page's closeWindow does. True when this call set the flag;
// false when the window is not a host window of this process, has no running loop, or closing was
// already requested.
bool requestHostWindowClose(HWND window);

}  // namespace htmlui
