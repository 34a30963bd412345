// Win32 code.
#include "scripthost/script_timers_win.h"

#include <oleauto.h>

#include "app/logger_win.h"

namespace scripthost {

namespace {

constexpr wchar_t kTimerWindowClass[] = L"SorvaneScriptTimers";

enum Method : std::size_t { kSetTimeout, kSetInterval, kClearTimeout, kClearInterval };

}  // namespace

ScriptTimers* ScriptTimers::create(app::Logger* logger) {
  static const ATOM windowClass = [] {
    WNDCLASSEXW description = {};
    description.cbSize = sizeof description;
    description.lpfnWndProc = &ScriptTimers::windowProc;
    description.hInstance = GetModuleHandleW(nullptr);
    description.lpszClassName = kTimerWindowClass;
    return RegisterClassExW(&description);
  }();
  if (windowClass == 0) return nullptr;
  // Message-only: never shown, never found by other programs' window searches.
  HWND window = CreateWindowExW(0, kTimerWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr) return nullptr;
  auto* timers = new ScriptTimers(window, logger);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(timers));
  return timers;
}

ScriptTimers::ScriptTimers(HWND window, app::Logger* logger)
    : ScriptHostObject({L"setTimeout", L"setInterval", L"clearTimeout", L"clearInterval"}),
      window_(window),
      logger_(logger) {}

ScriptTimers::~ScriptTimers() {
  clearAll();
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

void ScriptTimers::clearAll() {
  // Moved out first: releasing a function may run script code that touches the timers.
  std::map<UINT_PTR, Timer> stopped;
  stopped.swap(timers_);
  for (auto& [id, timer] : stopped) {
    KillTimer(window_, id);
    timer.function->Release();
  }
}

HRESULT ScriptTimers::callMethod(std::size_t method, const std::vector<const VARIANT*>& arguments, VARIANT* result) {
  switch (method) {
    case kSetTimeout:
      return setTimer(arguments, false, result);
    case kSetInterval:
      return setTimer(arguments, true, result);
    case kClearTimeout:
    case kClearInterval: {
      LONG id = 0;
      if (numberArgument(arguments, 0, id) && id > 0) clearTimer(static_cast<UINT_PTR>(id));
      return S_OK;
    }
  }
  return DISP_E_MEMBERNOTFOUND;
}

HRESULT ScriptTimers::setTimer(const std::vector<const VARIANT*>& arguments, bool repeating, VARIANT* result) {
  // Browsers also take code as text; the workflow passes functions only.
  IDispatch* function = objectArgument(arguments, 0);
  if (function == nullptr) return E_INVALIDARG;
  LONG milliseconds = 0;
  if (!numberArgument(arguments, 1, milliseconds) || milliseconds < 0) milliseconds = 0;
  // Ids stay below 2^31, so they travel back as script numbers.
  if (nextId_ >= 0x7FFFFFFF) return E_OUTOFMEMORY;
  const UINT_PTR id = nextId_++;
  if (SetTimer(window_, id, static_cast<UINT>(milliseconds), nullptr) == 0) return HRESULT_FROM_WIN32(GetLastError());
  function->AddRef();
  timers_[id] = Timer{function, repeating};
  if (result != nullptr) {
    result->vt = VT_I4;
    result->lVal = static_cast<LONG>(id);
  }
  return S_OK;
}

void ScriptTimers::clearTimer(UINT_PTR id) {
  auto found = timers_.find(id);
  if (found == timers_.end()) return;
  IDispatch* function = found->second.function;
  timers_.erase(found);
  KillTimer(window_, id);
  function->Release();
}

void ScriptTimers::fire(UINT_PTR id) {
  auto found = timers_.find(id);
  if (found == timers_.end()) {
    // Cleared, but its WM_TIMER was already queued.
    KillTimer(window_, id);
    return;
  }
  IDispatch* function = found->second.function;
  if (found->second.repeating) {
    function->AddRef();  // the function may clear its own interval while it runs
  } else {
    // A timeout ends before its function runs, so that the function may set the next one.
    timers_.erase(found);
    KillTimer(window_, id);
  }
  // The function may drop the script's last reference to this object.
  AddRef();
  DISPPARAMS noArguments = {};
  VARIANT ignored;
  VariantInit(&ignored);
  EXCEPINFO exception = {};
  UINT argumentError = 0;
  const HRESULT hr = function->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &noArguments,
                                      &ignored, &exception, &argumentError);
  VariantClear(&ignored);
  if (FAILED(hr)) {
    ++failures_;
    if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    if (logger_ != nullptr) {
      logger_->error(L"Script timer %u failed with %x: %s", static_cast<unsigned>(id), static_cast<unsigned>(hr),
                     exception.bstrDescription != nullptr ? exception.bstrDescription : L"");
    }
  }
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrHelpFile);
  function->Release();
  Release();
}

LRESULT CALLBACK ScriptTimers::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER) {
    auto* timers = reinterpret_cast<ScriptTimers*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (timers != nullptr) timers->fire(static_cast<UINT_PTR>(wParam));
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace scripthost
