#include "downloadmanagercore/download_rules.h"
#include "downloadmanagercore/package_answer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace downloadmanagercore {
namespace {

TEST(HresultFromWin32, WrapsPositiveCodesAndKeepsTheRest) {
  struct Case {
    std::uint32_t code;
    std::uint32_t expected;
  };
  const std::vector<Case> cases = {
      {0, 0},                    // ERROR_SUCCESS stays S_OK
      {112, 0x80070070},         // ERROR_DISK_FULL
      {123, 0x8007007B},         // ERROR_INVALID_NAME
      {0x80070005, 0x80070005},  // already an HRESULT
      {0xFFFFFFFF, 0xFFFFFFFF},  // negative: unchanged
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, hresultFromWin32(c.code)) << std::hex << c.code;
}

TEST(MapTransferResult, MapsEveryOutcomeToThePagesCode) {
  struct Case {
    std::uint32_t hresult;
    FreeSpace freeSpace;
    std::int32_t expected;
  };
  const std::vector<Case> cases = {
      {kHresultOk, FreeSpace::kUnknown, kDownloadSucceeded},
      {kInetObjectNotFound, FreeSpace::kUnknown, kDownloadObjectNotFound},
      {kInetResourceNotFound, FreeSpace::kUnknown, kDownloadTransient},
      {kHresultShort, FreeSpace::kUnknown, kDownloadTransient},
      {kInetDownloadFailure, FreeSpace::kNone, kDownloadDiskFull},
      {kInetDownloadFailure, FreeSpace::kSome, kDownloadTransient},
      {kInetDownloadFailure, FreeSpace::kUnknown, kDownloadTransient},
      {kInetConnectionTimeout, FreeSpace::kUnknown, kDownloadTransient},
      {kHresultDiskFull, FreeSpace::kSome, kDownloadDiskFull},
      {kHresultNotAPackage, FreeSpace::kNone, kDownloadNotAPackage},
      // The secure connection's problems: the clock, and every other reason not to trust it.
      {kHresultCertificateDate, FreeSpace::kUnknown, kDownloadCertificateDate},
      {kHresultCertificateIssuer, FreeSpace::kUnknown, kDownloadUntrustedCertificate},
      {kHresultCertificateName, FreeSpace::kUnknown, kDownloadUntrustedCertificate},
      {kInetInvalidCertificate, FreeSpace::kUnknown, kDownloadUntrustedCertificate},
      {securityProblemResult(12037), FreeSpace::kUnknown, kDownloadCertificateDate},
      {securityProblemResult(12045), FreeSpace::kUnknown, kDownloadUntrustedCertificate},
      {securityProblemResult(12040), FreeSpace::kUnknown, kDownloadFailed},  // https down to http
      // Free space matters only for a broken transfer.
      {kInetConnectionTimeout, FreeSpace::kNone, kDownloadTransient},
      {kHresultPending, FreeSpace::kUnknown, kDownloadFailed},  // the wait stopped on a quit message
      {kHresultAbort, FreeSpace::kUnknown, kDownloadFailed},
      {0x8007007B, FreeSpace::kUnknown, kDownloadFailed},  // invalid file name
      {0x00000002, FreeSpace::kUnknown, kDownloadFailed},  // an unexpected success code
      // HTTP error statuses.
      {kHttpStatusFacilityBase | 500, FreeSpace::kUnknown, kDownloadTransient},
      {kHttpStatusFacilityBase | 599, FreeSpace::kUnknown, kDownloadTransient},
      {kHttpStatusFacilityBase | 408, FreeSpace::kUnknown, kDownloadTransient},
      {kHttpStatusFacilityBase | 429, FreeSpace::kUnknown, kDownloadTransient},
      {kHttpStatusFacilityBase | 403, FreeSpace::kNone, kDownloadFailed},
      {kHttpStatusFacilityBase | 600, FreeSpace::kUnknown, kDownloadFailed},
      // The same low word in another facility is no HTTP status.
      {0x80070000 | 500, FreeSpace::kUnknown, kDownloadFailed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, mapTransferResult(c.hresult, c.freeSpace)) << std::hex << c.hresult;
    EXPECT_EQ(c.hresult == kInetDownloadFailure, mappingNeedsFreeSpace(c.hresult)) << std::hex << c.hresult;
  }
}

TEST(HttpStatusResult, EndsTheTransferForErrorAndUnfollowedRedirectStatuses) {
  struct Case {
    std::uint32_t status;
    std::uint32_t expected;
    std::int32_t pageResult;
  };
  const std::vector<Case> cases = {
      {0, kInetDownloadFailure, kDownloadTransient},  // the connection closed before any answer
      {200, kHresultOk, kDownloadSucceeded},
      {206, kHresultOk, kDownloadSucceeded},
      // A redirect the service answers with is one it did not follow: its page is no package.
      {301, kInetRedirectFailed, kDownloadFailed},
      {302, kInetRedirectFailed, kDownloadFailed},
      {304, kInetRedirectFailed, kDownloadFailed},
      {399, kInetRedirectFailed, kDownloadFailed},
      {404, kInetObjectNotFound, kDownloadObjectNotFound},
      {410, kInetObjectNotFound, kDownloadObjectNotFound},
      {400, kHttpStatusFacilityBase | 400, kDownloadFailed},
      {403, kHttpStatusFacilityBase | 403, kDownloadFailed},
      {408, kHttpStatusFacilityBase | 408, kDownloadTransient},
      {429, kHttpStatusFacilityBase | 429, kDownloadTransient},
      {500, kHttpStatusFacilityBase | 500, kDownloadTransient},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, httpStatusResult(c.status)) << c.status;
    EXPECT_EQ(c.pageResult, mapTransferResult(httpStatusResult(c.status), FreeSpace::kSome)) << c.status;
  }
}

TEST(SettleStopResult, OnlyASuccessfulStopBeforeTheAnnouncedLengthIsShort) {
  struct Case {
    std::uint32_t hresult;
    bool known;
    std::uint64_t position;
    std::uint64_t size;
    std::uint32_t expected;
  };
  const std::vector<Case> cases = {
      {kHresultOk, true, 1000, 1000, kHresultOk},
      {kHresultOk, true, 600, 1000, kHresultShort},
      {kHresultOk, false, 600, 1000, kHresultOk},  // position or size could not be read
      {kHresultOk, true, 0x100000000ull, 0x100000001ull, kHresultShort},
      {kInetDownloadFailure, true, 600, 1000, kInetDownloadFailure},
      {kHresultAbort, true, 0, 1000, kHresultAbort},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, settleStopResult(c.hresult, c.known, c.position, c.size))
        << std::hex << c.hresult << " " << std::dec << c.position << "/" << c.size;
  }
}

TEST(AttemptBudget, TenAttemptsWithoutDataEndTheDownload) {
  AttemptBudget budget;
  int attempts = 1;
  while (budget.allowsRetryAfter(0)) ++attempts;
  EXPECT_EQ(kAttemptBudget, attempts);
  EXPECT_EQ(0, budget.remaining());
}

TEST(AttemptBudget, OnlyAnAttemptThatGetsFurtherRestoresTheWholeBudget) {
  AttemptBudget budget;
  for (int i = 0; i < kAttemptBudget - 2; ++i) ASSERT_TRUE(budget.allowsRetryAfter(0));
  EXPECT_EQ(2, budget.remaining());
  EXPECT_TRUE(budget.allowsRetryAfter(600));
  EXPECT_EQ(kAttemptBudget, budget.remaining());
  // A download that keeps making progress is never given up.
  for (std::uint64_t bytes = 601; bytes < 601 + 3 * kAttemptBudget; ++bytes) ASSERT_TRUE(budget.allowsRetryAfter(bytes));
  EXPECT_EQ(kAttemptBudget, budget.remaining());
}

TEST(AttemptBudget, AServerThatAlwaysBreaksAtTheSamePointIsGivenUp) {
  // The first break is progress; the same 600 bytes again, or fewer, are not.
  AttemptBudget budget;
  int attempts = 1;
  while (budget.allowsRetryAfter(attempts % 2 == 1 ? 600 : 400)) ++attempts;
  EXPECT_EQ(kAttemptBudget + 1, attempts);
}

TEST(IsFollowableRedirect, OnlyHttpAndHttps) {
  const struct {
    std::u16string target;
    bool followed;
  } cases[] = {
      {u"http://localhost:8000/SorvanePro.zip", true},
      {u"HTTPS://cdn.example/p.zip", true},
      {u"hTtP:relative", true},
      {u"file:///C:/Windows/win.ini", false},
      {u"FILE://server/share/p.zip", false},
      {u"ftp://127.0.0.1/p.zip", false},
      {u"res://shell32.dll/1", false},
      {u"mk:@MSITStore:C:/x.chm::/a.htm", false},
      {u"httpx://host/p.zip", false},
      {u"/files/p.zip", false},
      {u"C:\\Windows\\win.ini", false},
      {u"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.followed, isFollowableRedirect(c.target)) << std::string(c.target.begin(), c.target.end());
  }
}

TEST(IsFollowableRedirect, NeverFromHttpsDownToHttp) {
  const struct {
    std::u16string from;
    std::u16string target;
    bool followed;
  } cases[] = {
      {u"https://downloads.example/p.zip", u"http://downloads.example/p.zip", false},
      {u"HTTPS://downloads.example/p.zip", u"HTTP://mirror.example/p.zip", false},
      {u"https://downloads.example/p.zip", u"https://mirror.example/p.zip", true},
      {u"https://downloads.example/p.zip", u"HTTPS://mirror.example/p.zip", true},
      {u"http://downloads.example/p.zip", u"http://mirror.example/p.zip", true},
      {u"http://downloads.example/p.zip", u"https://mirror.example/p.zip", true},
      // The rules for every redirect still hold.
      {u"https://downloads.example/p.zip", u"file:///C:/Windows/win.ini", false},
      {u"http://downloads.example/p.zip", u"ftp://mirror.example/p.zip", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.followed, isFollowableRedirect(c.from, c.target))
        << std::string(c.from.begin(), c.from.end()) << " -> " << std::string(c.target.begin(), c.target.end());
  }
}

TEST(ContentLengthFromHeaders, ReadsTheDecimalLengthInSixtyFourBits) {
  const struct {
    std::u16string headers;
    std::int64_t length;
  } cases[] = {
      {u"HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: 1000\r\n\r\n", 1000},
      {u"HTTP/1.1 200 OK\r\ncontent-length:10737418240\r\n", 10737418240},
      {u"HTTP/1.1 200 OK\nCONTENT-LENGTH: \t 0 \n", 0},
      {u"HTTP/1.1 200 OK\r\nContent-Length: 10, 10\r\n", -1},
      {u"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n", -1},
      {u"HTTP/1.1 200 OK\r\nContent-Length: \r\n", -1},
      {u"HTTP/1.1 200 OK\r\nContent-Length: 1234567890123456789\r\n", -1},
      {u"HTTP/1.1 200 OK\r\nX-Content-Length: 5\r\nTransfer-Encoding: chunked\r\n", -1},
      {u"", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.length, contentLengthFromHeaders(c.headers)) << std::string(c.headers.begin(), c.headers.end());
  }
}

TEST(ShouldClaimAnnouncedLength, OnlyWhatA32BitCountExpresses) {
  EXPECT_FALSE(shouldClaimAnnouncedLength(0));
  EXPECT_TRUE(shouldClaimAnnouncedLength(1));
  EXPECT_TRUE(shouldClaimAnnouncedLength(0xFFFFFFFFull));
  EXPECT_FALSE(shouldClaimAnnouncedLength(0x100000000ull));
  EXPECT_FALSE(shouldClaimAnnouncedLength(10737418240ull));
}

TEST(ConnectionCheck, TurnsNotFoundAndTransientIntoNoNetwork) {
  struct Case {
    std::int32_t result;
    bool checked;
    std::int32_t whenOffline;
  };
  const std::vector<Case> cases = {
      {kDownloadSucceeded, false, kDownloadSucceeded},     {kDownloadFailed, false, kDownloadFailed},
      {kDownloadObjectNotFound, true, kDownloadNoNetwork}, {kDownloadDiskFull, false, kDownloadDiskFull},
      {kDownloadTransient, true, kDownloadNoNetwork},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.checked, needsConnectionCheck(c.result)) << c.result;
    EXPECT_EQ(c.whenOffline, applyConnectionCheck(c.result, false)) << c.result;
    EXPECT_EQ(c.result, applyConnectionCheck(c.result, true)) << c.result;
    // A name that was never found is told apart only where the check failed.
    EXPECT_EQ(c.whenOffline == kDownloadNoNetwork ? kDownloadServerNotFound : c.result,
              applyConnectionCheck(c.result, false, true)) << c.result;
    EXPECT_EQ(c.result, applyConnectionCheck(c.result, true, true)) << c.result;
  }
}

TEST(ProgressValue, ReadsTheUnsignedCountAsSigned) {
  EXPECT_EQ(0, progressValue(0));
  EXPECT_EQ(1000, progressValue(1000));
  EXPECT_EQ(2147483647, progressValue(0x7FFFFFFFu));
  EXPECT_EQ(-2147483647 - 1, progressValue(0x80000000u));
  EXPECT_EQ(-1, progressValue(0xFFFFFFFFu));
}

}  // namespace
}  // namespace downloadmanagercore
