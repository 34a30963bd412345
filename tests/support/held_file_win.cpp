// Win32 code.
#include "support/held_file_win.h"

#include <vector>

namespace testsupport {

FileHeldByAnotherProcess::FileHeldByAnotherProcess(const std::wstring& path, DWORD access, DWORD sharing) {
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  sysenv::UniqueFileHandle file(
      CreateFileW(path.c_str(), access, sharing, &inheritable, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  std::vector<wchar_t> program(32768);
  if (GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size())) == 0) return;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring commandLine = L"\"" + std::wstring(program.data()) + L"\" --gtest_list_tests";
  if (!CreateProcessW(program.data(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                      &startup, &process)) {
    return;
  }
  const sysenv::UniqueKernelHandle thread(process.hThread);  // suspended for good
  child_.reset(process.hProcess);
  // From here on the child's copy is the only one.
}

FileHeldByAnotherProcess::~FileHeldByAnotherProcess() { release(); }

void FileHeldByAnotherProcess::release() {
  if (!child_) return;
  TerminateProcess(child_.get(), 0);
  WaitForSingleObject(child_.get(), 10000);
  child_.reset();
}

}  // namespace testsupport
