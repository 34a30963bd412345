// Win32 code. The run's one log writer: "installer_log.txt" in a temporary folder of its own, one
// flushed line per call, deleted with its folder when the Logger goes. Shared by the UI thread and
// the workers: each line goes to the file whole, and closeFile is safe while other threads write.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "app/log_line.h"
#include "sysenv/critical_section_win.h"

namespace app {

class Logger {
 public:
  // Creates the folder and opens the file; never fails. Without a folder or file, every call
  // returns without effect.
  Logger();
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Wide formats with Microsoft's conventions: "%s" takes a wide string, "%S" a narrow one. Text
  // outside ASCII is written as UTF-8. Messages of any length are written whole.
  void debug(const wchar_t* format, ...);
  void error(const wchar_t* format, ...);
  // Narrow format and narrow text arguments (C99 conventions); the bytes are written as they are.
  void debugNarrow(const char* format, ...);

  // Closes the file so that it can be archived; later messages are dropped.
  void closeFile();

  // The file's full path, also when it could not be opened; empty when no folder could be made.
  const std::wstring& logPath() const { return logPath_; }
  // The Logger's own folder, ending in a backslash; empty when none could be made.
  const std::wstring& logFolder() const { return logFolder_; }

 private:
  void writeWide(int level, const wchar_t* format, va_list arguments);
  void writeLine(int level, const std::string& message);

  std::wstring logPath_;
  std::wstring logFolder_;
  int threshold_ = kLogThreshold;
  sysenv::CriticalSection fileLock_;  // guards file_ against closeFile while another thread writes
  std::FILE* file_ = nullptr;
};

}  // namespace app
