// Win32 code. What every long job of the script objects (download, extraction, installation) shares:
// one job of a kind at a time, the worker's log lines named after its routine, and letting go of the
// kind before the page is called back.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <utility>

#include "app/logger_win.h"
#include "htmlui/script_callback_win.h"

namespace downloadmanagercore {

// Marks a kind of job as running for as long as it is held. The worker lets go before it calls the
// page back, so that the page may start the next job of the kind from its callback; a job that ends
// without running lets go when it is freed.
class RunningClaim {
 public:
  // An empty claim when a job of the kind is already running.
  static RunningClaim take(std::atomic<bool>& running) {
    bool idle = false;
    return RunningClaim(running.compare_exchange_strong(idle, true) ? &running : nullptr);
  }
  RunningClaim(RunningClaim&& other) noexcept : running_(std::exchange(other.running_, nullptr)) {}
  RunningClaim& operator=(RunningClaim&&) = delete;
  ~RunningClaim() { release(); }

  explicit operator bool() const { return running_ != nullptr; }
  void release() {
    if (running_ != nullptr) std::exchange(running_, nullptr)->store(false);
  }

 private:
  explicit RunningClaim(std::atomic<bool>* running) : running_(running) {}
  std::atomic<bool>* running_;
};

class CommandJob : public htmlui::ScriptJob {
 protected:
  CommandJob(htmlui::MSHTMLExternal* owner, app::Logger* logger, const wchar_t* routine, RunningClaim claim)
      : ScriptJob(owner), logger_(logger), routine_(routine), claim_(std::move(claim)) {}

  void callBack(IDispatch* callback, std::int32_t result) {
    claim_.release();
    // The window has closed and the run is ending: nobody is left to hear the result.
    if (htmlui::scriptJobsStopping()) {
      logger_->debug(L"%s: the page is gone, result %d not passed on", routine_, static_cast<int>(result));
      return;
    }
    htmlui::callJscallback(logger_, callback, result);
  }

 private:
  void onWorkerStarted() override { logger_->debug(L"%s", routine_); }
  void onUnmarshalFailed(HRESULT hr) override {
    logger_->error(L"%s CoGetInterfaceAndReleaseStream  failed with: %x", routine_, static_cast<unsigned>(hr));
  }

  app::Logger* logger_;
  const wchar_t* routine_;
  RunningClaim claim_;
};

}  // namespace downloadmanagercore
