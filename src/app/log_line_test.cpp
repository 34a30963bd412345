#include "app/log_line.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

app::LogTime at(int year, int month, int day, int hour, int minute, int second, int milliseconds) {
  app::LogTime time;
  time.year = year;
  time.month = month;
  time.day = day;
  time.hour = hour;
  time.minute = minute;
  time.second = second;
  time.milliseconds = milliseconds;
  return time;
}

TEST(LogTimestamp, PadsDateAndTimeWithZerosAndMillisecondsWithBlanks) {
  struct Case {
    app::LogTime time;
    const char* expected;
  };
  const Case cases[] = {
      {at(2026, 12, 7, 21, 55, 58, 42), "20261207 21:55:58  42"},
      {at(2026, 1, 2, 3, 4, 5, 6), "20260102 03:04:05   6"},
      {at(2026, 1, 2, 3, 4, 5, 0), "20260102 03:04:05   0"},
      {at(1999, 10, 31, 23, 59, 59, 999), "19991031 23:59:59 999"},
      {at(987, 1, 1, 0, 0, 0, 100), " 9870101 00:00:00 100"},  // "%4d" pads a short year with blanks
  };
  for (const Case& c : cases) EXPECT_EQ(app::formatLogTimestamp(c.time), c.expected);
}

TEST(LogTimestamp, AbsurdFieldsAreCutAtTheBufferInsteadOfOverflowing) {
  const std::string text = app::formatLogTimestamp(at(INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN));
  EXPECT_EQ(text.size(), 79u);
  EXPECT_EQ(text.substr(0, 11), "-2147483648");
}

TEST(LogLevelName, NamesTheFourLevelsAndNothingElse) {
  EXPECT_STREQ(app::logLevelName(0), "");
  EXPECT_STREQ(app::logLevelName(app::kLogLevelTrace), "TRACE");
  EXPECT_STREQ(app::logLevelName(app::kLogLevelError), "ERROR");
  EXPECT_STREQ(app::logLevelName(app::kLogLevelWarning), "WARNING");
  EXPECT_STREQ(app::logLevelName(app::kLogLevelDebug), "DEBUG");
  EXPECT_STREQ(app::logLevelName(5), "");
  EXPECT_STREQ(app::logLevelName(-1), "");
  EXPECT_EQ(app::kLogThreshold, 4);
}

TEST(LogLine, PrefixMessageAndOneLineBreak) {
  const app::LogTime time = at(2026, 12, 7, 21, 55, 58, 42);
  EXPECT_EQ(app::formatLogPrefix(time, app::kLogLevelDebug), "[20261207 21:55:58  42 DEBUG] ");
  EXPECT_EQ(app::buildLogLine(time, app::kLogLevelDebug, "Install start"),
            "[20261207 21:55:58  42 DEBUG] Install start\n");
  EXPECT_EQ(app::buildLogLine(time, app::kLogLevelError, "QJDownload: 5"),
            "[20261207 21:55:58  42 ERROR] QJDownload: 5\n");
  // A message that brings its own line break gets a second one: an empty line follows it.
  EXPECT_EQ(app::buildLogLine(time, app::kLogLevelDebug, "Property lang: en\n"),
            "[20261207 21:55:58  42 DEBUG] Property lang: en\n\n");
  EXPECT_EQ(app::buildLogLine(time, 0, ""), "[20261207 21:55:58  42 ] \n");
}

TEST(LogLine, MessageBytesPassThroughUnchanged) {
  static const char kBytes[] = "UTF-8 \xC3\xA9 and a NUL \0 inside";
  const std::string message(kBytes, sizeof kBytes - 1);
  const std::string line = app::buildLogLine(at(2026, 1, 1, 0, 0, 0, 0), app::kLogLevelDebug, message);
  EXPECT_EQ(line.substr(line.size() - message.size() - 1), message + "\n");
}

// What the logger does around its formatting: `%s` stands for the one argument.
std::u16string formatOne(std::u16string_view format, std::u16string_view argument) {
  const std::u16string marked = app::markFormatControls(format);
  std::u16string formatted = marked;
  const std::size_t at = formatted.find(u"%s");
  if (at != std::u16string::npos) formatted.replace(at, 2, argument);
  return app::settleFormattedControls(formatted, marked);
}

TEST(LogLine, OutsideTextCannotStartALineButTheFormatsOwnBreaksStay) {
  // A URL or page argument with a forged line of ours in it stays on its own line, escaped.
  EXPECT_EQ(formatOne(u"QJDownload: %s", u"http://x/p.zip\r\n[20261209 10:00:00   0 ERROR] forged"),
            u"QJDownload: http://x/p.zip\\r\\n[20261209 10:00:00   0 ERROR] forged");
  EXPECT_EQ(formatOne(u"Install error: %s\n", u"0"), u"Install error: 0\n");
  EXPECT_EQ(formatOne(u"first part\nsecond part", u""), u"first part\nsecond part");
  EXPECT_EQ(formatOne(u"QJInstall: %s", u"a\tb\x1b[31m\x7f"), u"QJInstall: a\\tb\\x1b[31m\\x7f");
  EXPECT_EQ(formatOne(u"QJMessageBox: %s", u"one\u2028two\u0085"), u"QJMessageBox: one\\u2028two\\x85");
  // An argument that brings stand-ins of its own gets nothing turned into a real line break.
  const std::u16string smuggled = formatOne(u"Property %s: x\n", u"\uE00A[20261209 ERROR] forged");
  EXPECT_EQ(smuggled.find(u'\n'), std::u16string::npos);
  EXPECT_EQ(smuggled, u"Property \\n[20261209 ERROR] forged: x\\n");
}

}  // namespace
