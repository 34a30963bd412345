// The download's decisions that need no operating system.
#include "downloadmanagercore/download_rules.h"

#include <limits>
#include <optional>

#include "downloadmanagercore/package_answer.h"
#include "downloadmanagercore/proxy_sign_in.h"
#include "downloadmanagercore/resume_rules.h"

namespace downloadmanagercore {

namespace {

constexpr std::uint32_t kFacilityMask = 0xFFFF0000;
constexpr std::uint32_t kHttpStatusGone = 410;
constexpr std::uint32_t kHttpStatusNotFound = 404;
constexpr std::uint32_t kHttpStatusRequestTimeout = 408;
constexpr std::uint32_t kHttpStatusTooManyRequests = 429;
constexpr std::uint32_t kFirstRedirectStatus = 300;
constexpr std::uint32_t kFirstHttpErrorStatus = 400;

bool isHttpStatusResult(std::uint32_t hresult) {
  return (hresult & kFacilityMask) == kHttpStatusFacilityBase;
}

// Server trouble, a request that took too long, or one that came too often: another attempt may
// succeed.
bool isTransientHttpStatus(std::uint32_t status) {
  return (status >= 500 && status <= 599) || status == kHttpStatusRequestTimeout ||
         status == kHttpStatusTooManyRequests;
}

char16_t asciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

// Whether `text` starts with `lowerPrefix` (lower case ASCII), ignoring the case of `text`.
bool startsWithIgnoringCase(const std::u16string& text, const std::u16string& lowerPrefix) {
  if (text.size() < lowerPrefix.size()) return false;
  for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
    if (asciiLower(text[i]) != lowerPrefix[i]) return false;
  }
  return true;
}

}  // namespace

std::uint32_t hresultFromWin32(std::uint32_t code) {
  if (static_cast<std::int32_t>(code) <= 0) return code;
  return 0x80070000u | (code & 0xFFFFu);
}

std::uint32_t securityProblemResult(std::uint32_t wininetError) {
  constexpr std::uint32_t kHttpToHttpsRedirect = 12039;  // ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR
  constexpr std::uint32_t kHttpsToHttpRedirect = 12040;  // ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR
  constexpr std::uint32_t kRedirectNeedsConfirmation = 12156;  // ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION
  if (wininetError == kHttpToHttpsRedirect || wininetError == kHttpsToHttpRedirect ||
      wininetError == kRedirectNeedsConfirmation) {
    return kInetRedirectFailed;
  }
  return hresultFromWin32(wininetError);
}

bool mappingNeedsFreeSpace(std::uint32_t hresult) { return hresult == kInetDownloadFailure; }

std::int32_t mapTransferResult(std::uint32_t hresult, FreeSpace freeSpace) {
  // The order of the checks is the order in which the outcomes are told apart; keep it.
  switch (hresult) {
    case kHresultOk:
      return kDownloadSucceeded;
    case kInetObjectNotFound:
      return kDownloadObjectNotFound;
    case kInetResourceNotFound:
    case kHresultShort:
      return kDownloadTransient;
    case kInetDownloadFailure:
      // A broken transfer on a volume without a free byte is the full disk, not the network.
      return freeSpace == FreeSpace::kNone ? kDownloadDiskFull : kDownloadTransient;
    case kInetConnectionTimeout:
      return kDownloadTransient;
    case kHresultDiskFull:
      return kDownloadDiskFull;
    case kHresultNotAPackage:
      return kDownloadNotAPackage;
    case kHresultProxySignIn:
      return kDownloadProxySignIn;
    case kHresultCertificateDate:
      return kDownloadCertificateDate;
    // A name that does not match is what a traffic-inspecting proxy's own certificate shows as
    // often as an unknown issuer: to the user both are a connection that this machine cannot trust.
    case kInetInvalidCertificate:
    case kHresultCertificateName:
    case kHresultCertificateIssuer:
      return kDownloadUntrustedCertificate;
    default:
      break;
  }
  if (isHttpStatusResult(hresult) && isTransientHttpStatus(hresult & 0xFFFFu)) return kDownloadTransient;
  return kDownloadFailed;
}

std::uint32_t httpStatusResult(std::uint32_t status) {
  if (status == 0) return kInetDownloadFailure;
  if (status < kFirstRedirectStatus) return kHresultOk;
  if (status < kFirstHttpErrorStatus) return kInetRedirectFailed;
  if (status == kHttpStatusNotFound || status == kHttpStatusGone) return kInetObjectNotFound;
  return kHttpStatusFacilityBase | (status & 0xFFFFu);
}

std::uint32_t settleStopResult(std::uint32_t hresult, bool positionAndSizeKnown, std::uint64_t position,
                               std::uint64_t size) {
  if (hresult == kHresultOk && positionAndSizeKnown && position != size) return kHresultShort;
  return hresult;
}

bool AttemptBudget::allowsRetryAfter(std::uint64_t packageBytes) {
  if (packageBytes > furthest_) {
    furthest_ = packageBytes;
    remaining_ = kAttemptBudget;
  } else {
    --remaining_;
  }
  return remaining_ > 0;
}

bool isFollowableRedirect(const std::u16string& target) {
  return startsWithIgnoringCase(target, u"http:") || startsWithIgnoringCase(target, u"https:");
}

bool isFollowableRedirect(const std::u16string& from, const std::u16string& target) {
  if (!isFollowableRedirect(target)) return false;
  return !startsWithIgnoringCase(from, u"https:") || startsWithIgnoringCase(target, u"https:");
}

std::int64_t contentLengthFromHeaders(const std::u16string& headers) {
  const std::optional<std::u16string> value = headerValue(headers, u"content-length");
  if (!value || value->empty()) return -1;
  std::uint64_t length = 0;
  for (std::size_t i = 0; i < value->size(); ++i) {
    const char16_t c = (*value)[i];
    if (c < u'0' || c > u'9') return -1;
    if (i == 18) return -1;  // beyond any real length, and before the value could overflow
    length = length * 10 + static_cast<std::uint64_t>(c - u'0');
  }
  return static_cast<std::int64_t>(length);
}

bool shouldClaimAnnouncedLength(std::uint64_t announced) {
  return announced != 0 && announced <= std::numeric_limits<std::uint32_t>::max();
}

bool needsConnectionCheck(std::int32_t result) {
  return result == kDownloadObjectNotFound || result == kDownloadTransient;
}

std::int32_t applyConnectionCheck(std::int32_t result, bool connected) {
  return applyConnectionCheck(result, connected, false);
}

std::int32_t applyConnectionCheck(std::int32_t result, bool connected, bool nameUnknownOnANetwork) {
  if (!needsConnectionCheck(result) || connected) return result;
  return nameUnknownOnANetwork ? kDownloadServerNotFound : kDownloadNoNetwork;
}

std::int32_t progressValue(std::uint32_t count) {
  // The two's-complement reading of the count, without relying on an out-of-range conversion.
  constexpr std::uint32_t kMax = static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
  if (count <= kMax) return static_cast<std::int32_t>(count);
  return -static_cast<std::int32_t>(~count) - 1;
}

}  // namespace downloadmanagercore
