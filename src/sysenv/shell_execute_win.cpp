// Win32 code. Starting a program or opening a page through the desktop's own shell window, so that
// it runs as the desktop user's process rather than as a child of this elevated one.
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>
#include <wrl/client.h>

#include "sysenv/shell_win.h"

namespace sysenv {

using Microsoft::WRL::ComPtr;

namespace {

// A VARIANT that clears itself (with the BSTR it may hold): empty, or holding a copy of a text.
class OwnedVariant {
 public:
  OwnedVariant() { ::VariantInit(&value_); }
  explicit OwnedVariant(const std::wstring& text) : OwnedVariant() {
    value_.bstrVal = ::SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
    if (value_.bstrVal != nullptr) value_.vt = VT_BSTR;
  }
  ~OwnedVariant() { ::VariantClear(&value_); }
  OwnedVariant(const OwnedVariant&) = delete;
  OwnedVariant& operator=(const OwnedVariant&) = delete;
  VARIANT* get() { return &value_; }
  const VARIANT& value() const { return value_; }

 private:
  VARIANT value_;
};

// The desktop's shell automation object (IShellDispatch2), found through its view's background.
HRESULT desktopShellDispatch(ComPtr<IShellDispatch2>& shell) {
  ComPtr<IShellWindows> windows;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&windows));
  if (FAILED(hr)) return hr;

  OwnedVariant location, locationRoot;
  long desktopWindow = 0;
  ComPtr<IDispatch> desktop;
  hr = windows->FindWindowSW(location.get(), locationRoot.get(), SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                             &desktop);
  // S_FALSE means no such window; anything but S_OK leaves nothing to go on.
  if (hr != S_OK || !desktop) return E_FAIL;

  ComPtr<IShellBrowser> browser;
  hr = ::IUnknown_QueryService(desktop.Get(), SID_STopLevelBrowser, IID_PPV_ARGS(&browser));
  if (FAILED(hr)) return hr;
  ComPtr<IShellView> activeView;
  hr = browser->QueryActiveShellView(&activeView);
  if (FAILED(hr)) return hr;
  ComPtr<IShellView> view;
  hr = activeView.As(&view);
  if (FAILED(hr)) return hr;

  ComPtr<IDispatch> background;
  hr = view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(&background));
  if (FAILED(hr)) return hr;
  ComPtr<IShellFolderViewDual> folderView;
  hr = background.As(&folderView);
  if (FAILED(hr)) return hr;
  ComPtr<IDispatch> application;
  hr = folderView->get_Application(&application);
  if (FAILED(hr)) return hr;
  if (!application) return E_FAIL;
  return application.As(&shell);
}

}  // namespace

HRESULT shellExecuteAsDesktopUser(const std::wstring& file, const std::wstring& arguments) {
  ComPtr<IShellDispatch2> shell;
  const HRESULT found = desktopShellDispatch(shell);
  if (FAILED(found)) return found;

  // The file as a plain string, the arguments as a string variant; folder, operation and show mode
  // left empty for the shell's defaults.
  OwnedVariant fileValue(file), argumentsValue(arguments), folder, operation, show;
  if (fileValue.value().vt != VT_BSTR || argumentsValue.value().vt != VT_BSTR) return E_OUTOFMEMORY;
  return shell->ShellExecute(fileValue.value().bstrVal, argumentsValue.value(), folder.value(), operation.value(),
                             show.value());
}

}  // namespace sysenv
