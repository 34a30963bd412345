// Cleanup that must happen on every path out of a scope.
#pragma once

#include <utility>

namespace sysenv {

// Runs a cleanup on every path out of a scope.
template <typename Fn>
class ScopeExit {
 public:
  explicit ScopeExit(Fn fn) : fn_(std::move(fn)) {}
  ~ScopeExit() {
    if (armed_) fn_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  void dismiss() { armed_ = false; }

 private:
  Fn fn_;
  bool armed_ = true;
};

}  // namespace sysenv
