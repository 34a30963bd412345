// How a log line looks: "[<UTC timestamp> <LEVEL>] <message>\n". Plain, so the exact bytes can be
// checked natively; the Logger only adds the clock and the file.
#pragma once

#include <string>
#include <string_view>

namespace app {

enum LogLevel : int {
  kLogLevelNone = 0,  // named "", never used
  kLogLevelTrace = 1,
  kLogLevelError = 2,
  kLogLevelWarning = 3,
  kLogLevelDebug = 4,
};

// The highest level that is written; every level is.
constexpr int kLogThreshold = kLogLevelDebug;

// Broken-down UTC time, as the system clock reports it.
struct LogTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

// "TRACE", "ERROR", "WARNING", "DEBUG"; "" for level 0 and for any number outside the table.
const char* logLevelName(int level);

// "YYYYMMDD HH:MM:SS mmm", the milliseconds right-aligned in three places and padded with blanks.
std::string formatLogTimestamp(const LogTime& time);

// "[<timestamp> <LEVEL>] ".
std::string formatLogPrefix(const LogTime& time, int level);

// Outside text (a page's argument, a URL, the command line) must not start a line of its own in the
// log, where it could pass for one of ours ("[... ERROR] ..."), while a format's own line breaks
// stay. So the format's control characters are marked before formatting, as private-use stand-ins
// that formatting copies as they are; afterwards every control character left came from an
// argument and is escaped ("\r", "\n", "\t", "\x1b"; U+0085, U+2028 and U+2029 as "\u2028"), and
// the stand-ins become the format's characters again. Should an argument carry stand-ins itself,
// nothing is put back: every one of them is escaped as well.
std::u16string markFormatControls(std::u16string_view format);
std::u16string settleFormattedControls(std::u16string_view formatted, std::u16string_view markedFormat);

// The prefix, the message bytes as given, and "\n" (which a text-mode stream writes as CR LF). One
// string, so that the whole line can go to the stream in one write.
std::string buildLogLine(const LogTime& time, int level, std::string_view message);

}  // namespace app
