// Win32 code. The one lock of the Windows program: a critical section with its owner, entered for a
// scope by CriticalSectionLock. A critical section may be entered again by the thread that holds it,
// which the crash handler relies on when a thread crashes while it holds a lock.
#pragma once

#include <windows.h>

namespace sysenv {

class CriticalSection {
  friend class ConditionVariable;

 public:
  CriticalSection() { InitializeCriticalSection(&section_); }
  ~CriticalSection() { DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void enter() { EnterCriticalSection(&section_); }
  void leave() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

// Holds `section` from construction to the end of the scope.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& section) : section_(section) { section_.enter(); }
  ~CriticalSectionLock() { section_.leave(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CriticalSection& section_;
};

// Threads that wait, inside a CriticalSection, for another thread to change what it guards. Always
// sleep in a loop that tests the condition again: a wake-up may come without a change.
class ConditionVariable {
 public:
  ConditionVariable() { InitializeConditionVariable(&variable_); }
  ConditionVariable(const ConditionVariable&) = delete;
  ConditionVariable& operator=(const ConditionVariable&) = delete;

  // Leaves `section` (entered by this thread), sleeps until woken, and enters it again.
  void sleep(CriticalSection& section) { SleepConditionVariableCS(&variable_, &section.section_, INFINITE); }
  void wakeAll() { WakeAllConditionVariable(&variable_); }

 private:
  CONDITION_VARIABLE variable_;  // needs no deletion
};

}  // namespace sysenv
