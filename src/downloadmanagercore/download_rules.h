// The download's decisions that need no operating system: how a transfer's outcome becomes the code
// that the page's callback receives, how an HTTP status ends a transfer, when a transfer counts as
// short, how many attempts remain, and how the product's connection check changes a result.
#pragma once

#include <cstdint>
#include <string>

namespace downloadmanagercore {

// HRESULTs, as unsigned 32-bit values so that plain code needs no <windows.h>.
constexpr std::uint32_t kHresultOk = 0x00000000;                  // S_OK
constexpr std::uint32_t kHresultShort = 0x00000001;               // S_FALSE: fewer bytes than announced
constexpr std::uint32_t kHresultPending = 0x8000000A;             // E_PENDING: the transfer is running
constexpr std::uint32_t kHresultAbort = 0x80004004;               // E_ABORT
constexpr std::uint32_t kInetObjectNotFound = 0x800C0006;         // INET_E_OBJECT_NOT_FOUND
constexpr std::uint32_t kInetResourceNotFound = 0x800C0005;       // INET_E_RESOURCE_NOT_FOUND
constexpr std::uint32_t kInetDownloadFailure = 0x800C0008;        // INET_E_DOWNLOAD_FAILURE
constexpr std::uint32_t kInetConnectionTimeout = 0x800C000B;      // INET_E_CONNECTION_TIMEOUT
constexpr std::uint32_t kInetRedirectFailed = 0x800C0014;         // INET_E_REDIRECT_FAILED
constexpr std::uint32_t kHresultDiskFull = 0x80070070;            // HRESULT_FROM_WIN32(ERROR_DISK_FULL)
constexpr std::uint32_t kInetInvalidCertificate = 0x800C0019;     // INET_E_INVALID_CERTIFICATE
// The secure connection's problems, as the URL service names them to the bind callback
// (HRESULT_FROM_WIN32 of WinINet's ERROR_INTERNET_* codes).
constexpr std::uint32_t kHresultCertificateDate = 0x80072F05;     // ERROR_INTERNET_SEC_CERT_DATE_INVALID
constexpr std::uint32_t kHresultCertificateName = 0x80072F06;     // ERROR_INTERNET_SEC_CERT_CN_INVALID
constexpr std::uint32_t kHresultCertificateIssuer = 0x80072F0D;   // ERROR_INTERNET_INVALID_CA
// An HTTP error status travels as HTTP_E_STATUS_* (facility 25 with the status in the low word).
constexpr std::uint32_t kHttpStatusFacilityBase = 0x80190000;

// What the page's download callback receives.
enum DownloadResult : std::int32_t {
  kDownloadSucceeded = 0,
  kDownloadFailed = 1,         // any other failure
  kDownloadObjectNotFound = 2,
  kDownloadDiskFull = 3,
  kDownloadTransient = 4,      // retried; returned only when the attempt budget is spent
  kDownloadNoNetwork = 5,      // the product's connection check failed after 2 or 4
  kDownloadNotAPackage = 6,    // the answer was a web page or no zip (a network asking to sign in)
  kDownloadProxySignIn = 7,    // the proxy wants a sign-in that the engine could not give
  kDownloadUntrustedCertificate = 8,  // the server's certificate is not one this machine trusts
  kDownloadCertificateDate = 9,       // the server's certificate has expired or is not valid yet
  kDownloadServerNotFound = 10,       // the server's name is not known, on a working network
};

constexpr int kAttemptBudget = 10;            // attempts in a row that may end without data
constexpr unsigned kRetryPauseMilliseconds = 1000;
constexpr unsigned kReadChunkBytes = 8192;
// An attempt during which the service reports nothing for this long ends as timed out
// (INET_E_CONNECTION_TIMEOUT, transient). The URL service has no receive time-out of its own that
// can be relied on (Wine's waits for as long as the server keeps the connection open), so a server
// that accepts and never answers, or stalls mid-body, would hold the run forever. 30 s is WinHTTP's
// own default receive time-out: a loaded server or proxy that needs several seconds for its first
// byte, or a mobile link that drops out for a while, still gets through, and the attempt budget then
// bounds the whole download: at most 10 silent attempts (after the last one that got further than
// any before it) of 30 s plus the 1 s pause, about 5 minutes.
constexpr unsigned kReceiveTimeoutMilliseconds = 30000;

// The transfer result for a security problem that the URL service names (a WinINet ERROR_INTERNET_*
// code): a redirect between http and https that the service stopped is a refused redirect like any
// other; a certificate problem keeps its own code (kHresultCertificate*).
std::uint32_t securityProblemResult(std::uint32_t wininetError);

// HRESULT_FROM_WIN32: 0x80070000 | (code & 0xFFFF) for a positive code, the code itself otherwise.
std::uint32_t hresultFromWin32(std::uint32_t code);

// The free space of the work folder's volume, as far as it matters for INET_E_DOWNLOAD_FAILURE.
enum class FreeSpace { kNone, kSome, kUnknown };
// Only this outcome makes the mapping depend on free space; the disk is asked only then.
bool mappingNeedsFreeSpace(std::uint32_t hresult);
// The page's result for a transfer's final HRESULT. Besides the system's transfer errors, HTTP error
// statuses (kHttpStatusFacilityBase | status) that are worth another attempt (5xx, 408, 429) are
// transient; an answer that is no package (kHresultNotAPackage) is kDownloadNotAPackage, never
// retried, since the network answers the same way every time; every other one is a plain failure.
std::int32_t mapTransferResult(std::uint32_t hresult, FreeSpace freeSpace);

// The HRESULT that ends a transfer answered with this HTTP status, or kHresultOk when the status
// lets the data through (1xx, 2xx). Status 0 is a connection that ended before any status line
// (Wine then reports an empty answer as a success): INET_E_DOWNLOAD_FAILURE. A 3xx reaches the
// answer only when the service did not follow it (Wine's does not follow one to file:, and delivers
// the redirect's own page as data): kInetRedirectFailed. 404 and 410 are INET_E_OBJECT_NOT_FOUND;
// any other error status is kHttpStatusFacilityBase | status.
std::uint32_t httpStatusResult(std::uint32_t status);

// A transfer that the service reports as successful but whose file position stops short of the
// (pre-sized) file length ended short: S_FALSE. Any other stop keeps its HRESULT.
std::uint32_t settleStopResult(std::uint32_t hresult, bool positionAndSizeKnown, std::uint64_t position,
                               std::uint64_t size);

// Counts attempts that end transient. An attempt that got further into the package than every
// attempt before it (counted from the package's first byte, also when the attempt continued where
// the last one broke off) restores the whole budget, so a download that
// keeps making progress is retried without limit. An attempt that only received data again, as far
// as or less far than before, counts as one without data: a server that breaks off every transfer at
// the same point (a short body, a length it never delivers, a stall ended by the receive time-out)
// ends the download after the budget instead of retrying for ever.
class AttemptBudget {
 public:
  // After an attempt that ended with kDownloadTransient and left the package on disk up to
  // `packageBytes`: true when another attempt may start.
  bool allowsRetryAfter(std::uint64_t packageBytes);
  int remaining() const { return remaining_; }

 private:
  int remaining_ = kAttemptBudget;
  std::uint64_t furthest_ = 0;
};

// A redirect is followed only to http: or https: (either case). Anything else (file:, ftp:, res:,
// a relative or empty target) would let a server point the download at a local file or another
// service: the attempt ends with kInetRedirectFailed.
bool isFollowableRedirect(const std::u16string& target);
// The same for a redirect met at `from` (the URL or the last redirect's target): besides, a transfer
// that is on https never goes down to http, where anyone on the path could answer in the server's
// place.
bool isFollowableRedirect(const std::u16string& from, const std::u16string& target);

// The Content-Length of an HTTP answer's raw header block ("Name: value" lines, CR LF or LF), or
// -1 when it has none or it is not a plain decimal number. 64 bits: the service's own counts are
// 32-bit and lose a longer announced length.
std::int64_t contentLengthFromHeaders(const std::u16string& headers);

// Whether the package file is extended to the announced length before the data: only a length that
// the service's 32-bit counts can express (the same bound as "downloadTotal"). A server that announces
// more (10 GB for a small body) would otherwise make the file claim that much disk for the attempt.
bool shouldClaimAnnouncedLength(std::uint64_t announced);

// The product's rule: "object not found" and "transient" become "no network" when the connection
// check fails.
std::int32_t applyConnectionCheck(std::int32_t result, bool connected);
// The same, except that a failed check on a machine that has a network, for a download none of
// whose attempts got as far as connecting (the server's name was never found), is "server not
// found": a mistyped or withdrawn host name, which the user cannot mend by checking the cable.
std::int32_t applyConnectionCheck(std::int32_t result, bool connected, bool nameUnknownOnANetwork);
// Whether the connection check is made at all for this result.
bool needsConnectionCheck(std::int32_t result);

// A 32-bit progress count as the page reads it: the unsigned value as signed decimal text.
std::int32_t progressValue(std::uint32_t count);

}  // namespace downloadmanagercore
