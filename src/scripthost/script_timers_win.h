// Win32 code. The timers that a browser gives its pages (setTimeout, setInterval, clearTimeout,
// clearInterval), for scripts that run outside one: a hidden message-only window of the UI thread
// whose WM_TIMER calls the script's function. The functions therefore run only while that thread
// dispatches messages, one at a time, between other script calls, as in a browser.
#pragma once

#include <windows.h>

#include <map>

#include "scripthost/script_host_object_win.h"

namespace app {
class Logger;
}  // namespace app

namespace scripthost {

class ScriptTimers final : public ScriptHostObject {
 public:
  // Makes the object (reference count 1) with its window on the calling thread; null when the
  // window cannot be made. `logger` may be null.
  static ScriptTimers* create(app::Logger* logger);

  // Stops every timer and releases its function: call before the script engine closes. The script
  // may still set new timers afterwards.
  void clearAll();
  // Timers set and not yet ended or cleared.
  std::size_t pendingCount() const { return timers_.size(); }
  // Calls of a timer function that failed (the function threw); each is logged.
  unsigned failures() const { return failures_; }

 private:
  struct Timer {
    IDispatch* function;  // one reference, held while the timer is pending
    bool repeating;
  };

  ScriptTimers(HWND window, app::Logger* logger);
  ~ScriptTimers() override;

  // setTimeout(function, milliseconds) and setInterval(function, milliseconds) answer the timer's
  // id, a number from 1 up that is never reused; a missing or negative delay counts as 0, which the
  // system raises to its minimum (about 10 ms). clearTimeout(id) and clearInterval(id) stop any
  // timer of that id and ignore anything else, as browsers do.
  HRESULT callMethod(std::size_t method, const std::vector<const VARIANT*>& arguments, VARIANT* result) override;
  HRESULT setTimer(const std::vector<const VARIANT*>& arguments, bool repeating, VARIANT* result);
  void clearTimer(UINT_PTR id);
  void fire(UINT_PTR id);

  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_;
  app::Logger* logger_;
  std::map<UINT_PTR, Timer> timers_;
  UINT_PTR nextId_ = 1;
  unsigned failures_ = 0;
};

}  // namespace scripthost
