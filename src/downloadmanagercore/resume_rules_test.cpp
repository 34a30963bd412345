#include "downloadmanagercore/resume_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace downloadmanagercore {
namespace {

std::string narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

TEST(ResumeRules, HeaderValuesAreFoundByWholeNameInAnyCase) {
  const std::u16string headers =
      u"HTTP/1.1 200 OK\r\nX-ETag: \"no\"\r\netag:  \"v1\" \r\nLast-Modified: Wed, 09 Dec 2026 07:00:00 GMT\r\n"
      u"ETag: \"second\"\r\nEmpty:\r\n\r\n";
  EXPECT_EQ(u"\"v1\"", headerValue(headers, u"etag"));
  EXPECT_EQ(u"Wed, 09 Dec 2026 07:00:00 GMT", headerValue(headers, u"last-modified"));
  EXPECT_EQ(u"", headerValue(headers, u"empty"));
  EXPECT_FALSE(headerValue(headers, u"content-range").has_value());
  EXPECT_FALSE(headerValue(u"Last-Modified-Not: x\n", u"last-modified").has_value());
}

TEST(ResumeRules, OnlyAStrongETagOrElseLastModifiedGuardsARange) {
  const struct {
    std::u16string headers;
    std::u16string validator;
  } cases[] = {
      {u"ETag: \"abc\"\r\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n", u"\"abc\""},
      {u"Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n", u"Tue, 01 Dec 2026 10:00:00 GMT"},
      // A weak ETag wins over Last-Modified and guards nothing.
      {u"ETag: W/\"abc\"\r\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n", u""},
      {u"ETag: abc\r\n", u""},
      {u"ETag: \"\r\n", u""},
      {u"Content-Length: 10\r\n", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.validator, resumeValidator(c.headers)) << narrow(c.headers);
}

TEST(ResumeRules, TheRequestAsksForTheRestUnderItsValidator) {
  EXPECT_EQ(u"Range: bytes=600000-\r\nIf-Range: \"v1\"\r\n", resumeRequestHeaders(600000, u"\"v1\""));
  EXPECT_EQ(u"Range: bytes=18446744073709551615-\r\nIf-Range: x\r\n", resumeRequestHeaders(~0ull, u"x"));
}

TEST(ResumeRules, ContentRangesParseOnlyWhenWellFormed) {
  const auto range = parseContentRange(u"bytes 600-999/1000");
  ASSERT_TRUE(range.has_value());
  EXPECT_EQ(600u, range->first);
  EXPECT_EQ(999u, range->last);
  EXPECT_EQ(1000, range->total);
  EXPECT_EQ(-1, parseContentRange(u"Bytes  0-9/*")->total);
  for (const std::u16string bad : {u"bytes 600-999", u"bytes 999-600/1000", u"bytes 600-1000/1000", u"items 0-9/10",
                                   u"bytes=0-9/10", u"bytes 0-9/10 ", u"bytes -9/10", u"bytes */1000", u""}) {
    EXPECT_FALSE(parseContentRange(bad).has_value()) << narrow(bad);
  }
}

TEST(ResumeRules, OnlyA206WithTheWholeRestContinuesThePackage) {
  const struct {
    std::uint32_t status;
    std::u16string headers;
    std::int64_t knownTotal;
    bool continues;
  } cases[] = {
      {206, u"Content-Range: bytes 600-999/1000\r\n", 1000, true},
      {206, u"Content-Range: bytes 600-999/1000\r\n", -1, true},
      {200, u"Content-Range: bytes 600-999/1000\r\n", 1000, false},  // the server sent it all again
      {206, u"Content-Range: bytes 0-999/1000\r\n", 1000, false},    // from the start
      {206, u"Content-Range: bytes 601-999/1000\r\n", 1000, false},  // a gap
      {206, u"Content-Range: bytes 600-799/1000\r\n", 1000, false},  // ends early
      {206, u"Content-Range: bytes 600-1199/1200\r\n", 1000, false}, // another length: another package
      {206, u"Content-Range: bytes 600-999/*\r\n", 1000, false},
      {206, u"Content-Length: 400\r\n", 1000, false},
  };
  for (const auto& c : cases) {
    std::int64_t total = 0;
    EXPECT_EQ(c.continues, continuesPackage(c.status, c.headers, 600, c.knownTotal, &total)) << narrow(c.headers);
    if (c.continues) EXPECT_EQ(1000, total);
  }
}

TEST(ResumeRules, ARetryResumesOnlyWithBytesAValidatorAndSomethingLeft) {
  EXPECT_TRUE((ResumePoint{600, u"\"v\"", 1000}).resumes());
  EXPECT_TRUE((ResumePoint{600, u"\"v\"", -1}).resumes());
  EXPECT_FALSE((ResumePoint{0, u"\"v\"", 1000}).resumes());
  EXPECT_FALSE((ResumePoint{600, u"", 1000}).resumes());
  EXPECT_FALSE((ResumePoint{1000, u"\"v\"", 1000}).resumes());
}

}  // namespace
}  // namespace downloadmanagercore
