// Win32 code. Records what a program creates below a folder while it runs, so that a test can
// show what existed for a moment even when the program removes it again before it ends.
#pragma once

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "sysenv/unique_handle_win.h"

namespace testsupport {

class FolderWatch {
 public:
  // Starts watching `folder` and everything below it.
  explicit FolderWatch(const std::wstring& folder);
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  bool watching() const { return static_cast<bool>(folder_); }
  // Stops watching; the paths, relative to the folder, of everything that was created, in order.
  std::vector<std::wstring> stop();

 private:
  void collect();

  sysenv::UniqueFileHandle folder_;
  sysenv::UniqueKernelHandle stopRequested_;
  sysenv::UniqueKernelHandle armed_;  // set once the first request is queued
  std::thread collector_;
  std::vector<std::wstring> created_;
};

}  // namespace testsupport
