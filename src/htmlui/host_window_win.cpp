// Win32 code.
#include "htmlui/host_window_win.h"

#include <oleidl.h>
#include <wrl/client.h>

#include <new>

#include "htmlui/mshtml_client_win.h"
#include "htmlui/mshtml_external_win.h"
#include "htmlui/window_rect.h"

namespace htmlui {

namespace {

using Microsoft::WRL::ComPtr;

// What runHostWindow hands to WM_CREATE through CreateWindowExW's creation data.
struct CreationParameters {
  const wchar_t* pagePath;
  MSHTMLExternal* scriptObject;  // may be null
  bool* closeRequested;
};

// The record pointer fills the window's extra bytes: 4 on the shipped 32-bit build, 8 on 64-bit.
constexpr int kRecordOffset = 0;

ATOM classAtom = 0;  // UI thread only

HostWindowData* recordOf(HWND window) {
  return reinterpret_cast<HostWindowData*>(::GetWindowLongPtrW(window, kRecordOffset));
}

bool onCreate(HWND window, const CREATESTRUCTW* create) {
  const auto* parameters = create != nullptr ? static_cast<const CreationParameters*>(create->lpCreateParams) : nullptr;
  if (parameters == nullptr || parameters->pagePath == nullptr) return false;

  auto* record = new (std::nothrow) HostWindowData{nullptr, parameters->scriptObject, nullptr, parameters->closeRequested};
  if (record == nullptr) return false;
  record->site = new (std::nothrow) MSHTMLClient(window, parameters->scriptObject);
  if (record->site == nullptr) {
    delete record;
    return false;
  }
  ::SetWindowLongPtrW(window, kRecordOffset, reinterpret_cast<LONG_PTR>(record));
  if (record->scriptObject != nullptr) record->scriptObject->SetHostWindow(window);
  // On failure the record stays: the window's destruction, which follows at once, cleans it up.
  return record->site->createDocument() && record->site->loadUrl(parameters->pagePath);
}

// Runs once per window: the record is taken out of the window before anything is called, so a
// message that arrives during the cleanup finds none.
void releaseRecord(HWND window) {
  HostWindowData* record = recordOf(window);
  if (record == nullptr) return;
  ::SetWindowLongPtrW(window, kRecordOffset, 0);
  if (record->site != nullptr) {
    record->site->closeDocument();
    record->site->detach();
    record->site->Release();
  }
  if (record->scriptObject != nullptr) record->scriptObject->SetHostWindow(nullptr);
  delete record;
}

// The in-place document's own window, when it has one inside this window. It takes the keys: focus
// left on the host window itself would send them past the page (no Tab, no Escape for the page).
HWND documentWindowOf(HWND window, const HostWindowData& record) {
  if (record.site == nullptr || record.site->document() == nullptr) return nullptr;
  ComPtr<IOleInPlaceActiveObject> active;
  if (FAILED(record.site->document()->QueryInterface(__uuidof(IOleInPlaceActiveObject),
                                                     reinterpret_cast<void**>(active.GetAddressOf())))) {
    return nullptr;
  }
  HWND documentWindow = nullptr;
  if (FAILED(active->GetWindow(&documentWindow)) || !::IsChild(window, documentWindow)) return nullptr;
  return documentWindow;
}

LRESULT CALLBACK hostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return onCreate(window, reinterpret_cast<const CREATESTRUCTW*>(lParam)) ? 0 : -1;
    case WM_DESTROY:
      releaseRecord(window);
      return 0;
    case WM_NCDESTROY:
      // A window whose WM_CREATE failed gets only this message under Wine, not WM_DESTROY.
      releaseRecord(window);
      break;
    case WM_SIZE:
      if (HostWindowData* record = recordOf(window); record != nullptr && record->site != nullptr) {
        record->site->resizeDocument();
      }
      return 0;
    case WM_ACTIVATE:
      // Deactivated and not minimised: remember which child had the focus, to give it back later.
      if (HostWindowData* record = recordOf(window); record != nullptr && wParam == 0) {
        HWND focus = ::GetFocus();
        record->focusWindow = focus != window ? focus : nullptr;
      }
      break;
    case WM_SETFOCUS:
      if (HostWindowData* record = recordOf(window); record != nullptr) {
        // The remembered child may have gone since (the page navigated).
        if (record->focusWindow != nullptr && !::IsChild(window, record->focusWindow)) record->focusWindow = nullptr;
        // Nothing remembered (the first activation, or one after a minimise): the document's window.
        HWND target = record->focusWindow != nullptr ? record->focusWindow : documentWindowOf(window, *record);
        if (target != nullptr) {
          ::SetFocus(target);
          return 0;
        }
      }
      break;
    case WM_CLOSE:
      // runHostWindow destroys the window once its loop has ended.
      if (HostWindowData* record = recordOf(window); record != nullptr && record->closeRequested != nullptr) {
        *record->closeRequested = true;
        return 0;
      }
      break;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

// Offers a message to the in-place active document first (its accelerators, Tab between the page's
// fields). True when the document consumed it. A document that offers no active object (not yet in
// place) consumes nothing.
bool documentConsumes(HWND window, MSG* message) {
  HostWindowData* record = recordOf(window);
  if (record == nullptr || record->site == nullptr || record->site->document() == nullptr) return false;
  ComPtr<IOleInPlaceActiveObject> active;
  if (FAILED(record->site->document()->QueryInterface(__uuidof(IOleInPlaceActiveObject),
                                                      reinterpret_cast<void**>(active.GetAddressOf())))) {
    return false;
  }
  return active->TranslateAccelerator(message) == S_OK;
}

void runMessageLoop(HWND window, const bool& closeRequested) {
  MSG message;
  while (!closeRequested) {
    // A window destroyed behind the loop's back would otherwise leave it waiting for ever.
    if (!::IsWindow(window)) return;
    if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (closeRequested) return;
      ::WaitMessage();
      continue;
    }
    if (message.message == WM_QUIT) {
      // Left in the queue for an outer loop.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (!documentConsumes(window, &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

ScreenRect toScreenRect(const RECT& rect) { return ScreenRect{rect.left, rect.top, rect.right, rect.bottom}; }

ScreenRect workAreaOf(HMONITOR monitor) {
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  if (monitor != nullptr && ::GetMonitorInfoW(monitor, &info)) return toScreenRect(info.rcWork);
  RECT primary = {0, 0, 0, 0};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &primary, 0);
  return toScreenRect(primary);
}

}  // namespace

bool registerHostWindowClass() {
  if (classAtom != 0) return true;
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = 0;
  windowClass.lpfnWndProc = hostWindowProc;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = sizeof(LONG_PTR);  // the HostWindowData pointer
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.hIcon = nullptr;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = nullptr;  // the document paints the whole client area
  windowClass.lpszMenuName = nullptr;
  windowClass.lpszClassName = kHostWindowClassName;
  windowClass.hIconSm = nullptr;
  classAtom = ::RegisterClassExW(&windowClass);
  return classAtom != 0;
}

ATOM hostWindowClassAtom() { return classAtom; }

bool runHostWindow(const wchar_t* pagePath, MSHTMLExternal* scriptObject) {
  registerHostWindowClass();
  bool closeRequested = false;
  CreationParameters parameters{pagePath, scriptObject, &closeRequested};
  // Visible at once but 0 x 0: the page gives it its size.
  HWND window = ::CreateWindowExW(WS_EX_APPWINDOW, MAKEINTATOM(classAtom), nullptr, WS_POPUP | WS_VISIBLE, 0, 0, 0,
                                  0, nullptr, nullptr, ::GetModuleHandleW(nullptr), &parameters);
  if (window == nullptr) return false;
  runMessageLoop(window, closeRequested);
  if (::IsWindow(window)) ::DestroyWindow(window);
  return true;
}

RECT computeWindowRect(HWND window, int width, int height) {
  int dpiX = 96;
  int dpiY = 96;
  if (HDC screen = ::GetDC(nullptr); screen != nullptr) {
    dpiX = ::GetDeviceCaps(screen, LOGPIXELSX);
    dpiY = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
  }
  RECT outer = {0, 0, scaleToDpi(width, dpiX), scaleToDpi(height, dpiY)};
  ::AdjustWindowRectEx(&outer, static_cast<DWORD>(::GetWindowLongW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(::GetWindowLongW(window, GWL_EXSTYLE)));

  ScreenRect reference;
  ScreenRect bounds;
  if (HWND owner = ::GetWindow(window, GW_OWNER); owner != nullptr) {
    RECT ownerRect = {0, 0, 0, 0};
    ::GetWindowRect(owner, &ownerRect);
    reference = toScreenRect(ownerRect);
    bounds = workAreaOf(::MonitorFromRect(&ownerRect, MONITOR_DEFAULTTONEAREST));
  } else {
    POINT cursor = {0, 0};
    ::GetCursorPos(&cursor);
    bounds = workAreaOf(::MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST));
    reference = bounds;
  }
  ScreenRect placed = placeWindow(outer.right - outer.left, outer.bottom - outer.top, reference, bounds);
  return RECT{placed.left, placed.top, placed.right, placed.bottom};
}

HostWindowData* hostWindowData(HWND window) {
  if (classAtom == 0 || window == nullptr) return nullptr;
  if (static_cast<ATOM>(::GetClassLongW(window, GCW_ATOM)) != classAtom) return nullptr;
  // Class atoms are shared between processes: another instance's window of the same class holds a
  // pointer into that process.
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  if (processId != ::GetCurrentProcessId()) return nullptr;
  return recordOf(window);
}

bool requestHostWindowClose(HWND window) {
  HostWindowData* record = hostWindowData(window);
  if (record == nullptr || record->closeRequested == nullptr || *record->closeRequested) return false;
  *record->closeRequested = true;
  return true;
}

}  // namespace htmlui
