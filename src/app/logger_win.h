// Win32 code. The run's one log writer: "installer_log.txt" in a temporary folder of its own, one
// flushed line per call, deleted with its folder when the Logger goes. Shared without a lock by the
// UI thread and the workers; each stream operation is atomic on its own.
#pragma once

#include <cstdio>
#include <string>

namespace app {

class Logger {
 public:
  // Creates the folder and opens the file; never fails. Without a folder or file, every call
  // returns without effect.
  Logger();
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Wide formats: "%s" takes a wide string. Text outside ASCII is written as UTF-8.
  void debug(const wchar_t* format, ...);
  void error(const wchar_t* format, ...);
  // Narrow format and narrow text arguments.
  void debugNarrow(const char* format, ...);

  // Closes the file so that it can be archived; later messages are dropped.
  void closeFile();

  const std::wstring& logPath() const { return logPath_; }
  const std::wstring& logFolder() const { return logFolder_; }

 private:
  void writeLine(int level, const std::string& message);

  std::wstring logPath_;
  std::wstring logFolder_;
  int threshold_ = 4;
  std::FILE* file_ = nullptr;
};

}  // namespace app
