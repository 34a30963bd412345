// Win32 code. A file that another process holds open, as a virus scanner, a backup program or a
// second copy of the program would, so that a test sees what sharing rules do across processes.
#pragma once

#include <windows.h>

#include <string>

#include "sysenv/unique_handle_win.h"

namespace testsupport {

// Opens `path` (OPEN_ALWAYS: made empty when missing) with `access` and `sharing` (0: no other
// opening of any kind) and hands the only handle to a child process until destroyed. The child is
// this test program, created suspended, which never runs: it only inherits the handle, which this
// process then closes. held() is false when the file could not be opened or the child not started.
class FileHeldByAnotherProcess {
 public:
  explicit FileHeldByAnotherProcess(const std::wstring& path, DWORD access = GENERIC_READ | GENERIC_WRITE,
                                    DWORD sharing = 0);
  ~FileHeldByAnotherProcess();
  FileHeldByAnotherProcess(const FileHeldByAnotherProcess&) = delete;
  FileHeldByAnotherProcess& operator=(const FileHeldByAnotherProcess&) = delete;

  bool held() const { return static_cast<bool>(child_); }
  // Ends the child, which closes the file; held() is false afterwards.
  void release();

 private:
  sysenv::UniqueKernelHandle child_;
};

}  // namespace testsupport
