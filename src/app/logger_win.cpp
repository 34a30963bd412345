// Win32 code.
#include "app/logger_win.h"

#include <windows.h>
#include <shlwapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "app/log_line.h"
#include "sysenv/scratch_folder_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/wide_text_win.h"

namespace app {

namespace {

constexpr wchar_t kLogFileName[] = L"installer_log.txt";

// Wide formatting with Microsoft's conventions ("%s" is a wide string). The standard vswprintf is
// not usable here: with libstdc++, mingw-w64 switches it to its own C99 printf, in which "%s" in a
// wide format reads a narrow string. The msvcrt functions keep the conventions every caller's
// format is written for. The length is measured first, so any message fits.
std::wstring formatWide(const wchar_t* format, va_list arguments) {
  va_list measuring;
  va_copy(measuring, arguments);
  const int length = _vscwprintf(format, measuring);
  va_end(measuring);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int written = _vsnwprintf(&text[0], text.size(), format, arguments);
  if (written < 0) return {};
  text.resize(static_cast<size_t>(written < length ? written : length));
  return text;
}

std::string formatNarrow(const char* format, va_list arguments) {
  va_list measuring;
  va_copy(measuring, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measuring);
  va_end(measuring);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int written = std::vsnprintf(&text[0], text.size(), format, arguments);
  if (written < 0) return {};
  text.resize(static_cast<size_t>(written < length ? written : length));
  return text;
}

LogTime currentUtcTime() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  LogTime time;
  time.year = now.wYear;
  time.month = now.wMonth;
  time.day = now.wDay;
  time.hour = now.wHour;
  time.minute = now.wMinute;
  time.second = now.wSecond;
  time.milliseconds = now.wMilliseconds;
  return time;
}

}  // namespace

Logger::Logger() {
  std::wstring folder;
  // Only a folder of our own is ever named here: on failure logFolder stays empty, so the
  // destructor can never delete a temporary folder itself.
  if (!sysenv::createScratchFolder(folder)) return;
  logFolder_ = folder;

  wchar_t path[MAX_PATH];
  if (PathCombineW(path, logFolder_.c_str(), kLogFileName) == nullptr) return;
  logPath_ = path;
  // The file is opened as itself, never through a link planted in its place. "a+": append and
  // read, text mode (CR LF line ends); the handle is not inheritable: the installer and other
  // children must not hold it, or the file could not be archived or deleted while they run.
  sysenv::UniqueFileHandle file =
      sysenv::openScratchFile(path, GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
  if (!file) return;
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_APPEND | _O_TEXT);
  if (descriptor == -1) return;
  file.release();  // the descriptor owns it now
  file_ = _wfdopen(descriptor, L"a+");
  if (file_ == nullptr) _close(descriptor);
}

Logger::~Logger() {
  closeFile();
  if (!logFolder_.empty()) sysenv::deleteFolderTree(logFolder_);
}

void Logger::debug(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  writeWide(kLogLevelDebug, format, arguments);
  va_end(arguments);
}

void Logger::error(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  writeWide(kLogLevelError, format, arguments);
  va_end(arguments);
}

// Wide messages go to the narrow file as UTF-8, so every character stays readable.
// Outside text in the arguments is escaped, so that one message cannot forge another line.
void Logger::writeWide(int level, const wchar_t* format, va_list arguments) {
  if (format == nullptr) return;
  const std::u16string marked = markFormatControls(sysenv::toU16(format));
  const std::wstring formatted = formatWide(sysenv::toWide(marked).c_str(), arguments);
  writeLine(level, sysenv::toUtf8(sysenv::toWide(settleFormattedControls(sysenv::toU16(formatted), marked))));
}

void Logger::debugNarrow(const char* format, ...) {
  if (format == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  const std::string message = formatNarrow(format, arguments);
  va_end(arguments);
  writeLine(kLogLevelDebug, message);
}

void Logger::closeFile() {
  sysenv::CriticalSectionLock lock(fileLock_);
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

void Logger::writeLine(int level, const std::string& message) {
  if (level > threshold_) return;
  sysenv::CriticalSectionLock lock(fileLock_);
  if (file_ == nullptr) return;
  // The clock is read under the lock, so the lines of all threads appear in time order. One write
  // per line: no other thread's text can land inside it. Write errors are not reported.
  const std::string line = buildLogLine(currentUtcTime(), level, message);
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

}  // namespace app
