#include "app/log_line.h"

#include <algorithm>
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

namespace {

// The stand-in of a format's control character c: U+E000 + c (DEL as U+E07F).
constexpr char16_t kMarkBase = 0xE000;

bool isControl(char16_t unit) { return unit < 0x20 || unit == 0x7F; }
bool isLineSeparator(char16_t unit) { return unit == 0x85 || unit == 0x2028 || unit == 0x2029; }
bool isMark(char16_t unit) { return unit >= kMarkBase && (unit < kMarkBase + 0x20 || unit == kMarkBase + 0x7F); }

void appendEscaped(std::u16string& out, char16_t unit) {
  static const char kHex[] = "0123456789abcdef";
  const char* named = unit == u'\r' ? "\\r" : unit == u'\n' ? "\\n" : unit == u'\t' ? "\\t" : nullptr;
  if (named != nullptr) {
    out.append(named, named + 2);
    return;
  }
  if (unit < 0x100) {
    out += u"\\x";
    out += static_cast<char16_t>(kHex[(unit >> 4) & 0xF]);
    out += static_cast<char16_t>(kHex[unit & 0xF]);
    return;
  }
  out += u"\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += static_cast<char16_t>(kHex[(unit >> shift) & 0xF]);
}

}  // namespace

std::u16string markFormatControls(std::u16string_view format) {
  std::u16string marked(format);
  for (char16_t& unit : marked) {
    if (isControl(unit)) unit = static_cast<char16_t>(kMarkBase + unit);
  }
  return marked;
}

std::u16string settleFormattedControls(std::u16string_view formatted, std::u16string_view markedFormat) {
  // Formatting copies the format's literal text, and no conversion makes a stand-in of its own: more
  // stand-ins than the format holds came from an argument.
  const auto marks = [](std::u16string_view text) { return std::count_if(text.begin(), text.end(), isMark); };
  const bool putBack = marks(formatted) == marks(markedFormat);
  std::u16string out;
  out.reserve(formatted.size());
  for (const char16_t unit : formatted) {
    if (isMark(unit) && putBack) {
      out += static_cast<char16_t>(unit - kMarkBase);
    } else if (isMark(unit)) {
      appendEscaped(out, static_cast<char16_t>(unit - kMarkBase));
    } else if (isControl(unit) || isLineSeparator(unit)) {
      appendEscaped(out, unit);
    } else {
      out += unit;
    }
  }
  return out;
}

std::string buildLogLine(const LogTime& time, int level, std::string_view message) {
  std::string line = formatLogPrefix(time, level);
  line.append(message.data(), message.size());
  line += '\n';
  return line;
}

}  // namespace app
