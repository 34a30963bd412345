#include "app/log_line.h"

#include <cstdio>

namespace app {

const char* logLevelName(int level) {
  static const char* const kNames[] = {"", "TRACE", "ERROR", "WARNING", "DEBUG"};
  if (level < 0 || level >= static_cast<int>(sizeof kNames / sizeof kNames[0])) return "";
  return kNames[level];
}

std::string formatLogTimestamp(const LogTime& time) {
  char buffer[80];
  const int length = std::snprintf(buffer, sizeof buffer, "%4d%02d%02d %02d:%02d:%02d %3d", time.year,
                                   time.month, time.day, time.hour, time.minute, time.second,
                                   time.milliseconds);
  if (length < 0) return {};
  // Clock values fit with room to spare; absurd ones are cut at the buffer's end. snprintf reports
  // the untruncated length, so keep only what it wrote.
  return std::string(buffer, static_cast<size_t>(length) < sizeof buffer ? length : sizeof buffer - 1);
}

std::string formatLogPrefix(const LogTime& time, int level) {
  std::string prefix = "[";
  prefix += formatLogTimestamp(time);
  prefix += ' ';
  prefix += logLevelName(level);
  prefix += "] ";
  return prefix;
}

std::string buildLogLine(const LogTime& time, int level, std::string_view message) {
  std::string line = formatLogPrefix(time, level);
  line.append(message.data(), message.size());
  line += '\n';
  return line;
}

}  // namespace app
