// Win32 code. Only one stub runs at a time; a second start brings the first one's window forward.
#pragma once

#include "htmlui/host_window_win.h"
#include "sysenv/unique_handle_win.h"

namespace app {

// Names that another instance relies on: never change them.
constexpr wchar_t kSingleInstanceMutexName[] = L"SorvaneProDownloadManager";
// The first instance's window is found by its class.
using htmlui::kHostWindowClassName;

struct SingleInstance {
  sysenv::UniqueKernelHandle mutex;
  bool alreadyRunning = false;
};

// Creates (or opens) the named mutex; `alreadyRunning` when another process made it first.
SingleInstance acquireSingleInstance();

// Brings the running instance's window to the front and restores it when minimised. Does nothing
// when that instance has not created its window yet.
void activateRunningInstance();

}  // namespace app
