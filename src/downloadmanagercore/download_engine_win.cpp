// Win32 code. The download engine: pulls the package from its URL into the work folder through the
// system's URL service, attempt after attempt, and reduces the outcome to the page's result code.
// One attempt is package_attempt_win (the writing callback) over url_transfer_win (the service and
// the message pump); this file holds the attempts' sequence and the verdicts on what they fetched.
// The decisions (mapping, the attempt budget) are plain code in download_rules.
#include <windows.h>
#include <shlwapi.h>

#include <cstdint>
#include <optional>
#include <string>

#include "downloadmanagercore/download_callback_win.h"
#include "downloadmanagercore/download_rules.h"
#include "downloadmanagercore/html_external_win.h"
#include "downloadmanagercore/package_attempt_win.h"
#include "downloadmanagercore/package_manifest.h"
#include "downloadmanagercore/package_trust.h"
#include "downloadmanagercore/proxy_sign_in_win.h"
#include "downloadmanagercore/url_transfer_win.h"
#include "sysenv/critical_section_win.h"
#include "sysenv/wide_text_win.h"

namespace downloadmanagercore {

HRESULT DownloadCallback::OnStartBinding(DWORD, IBinding*) { return S_OK; }
HRESULT DownloadCallback::GetPriority(LONG*) { return S_OK; }
HRESULT DownloadCallback::OnLowResource(DWORD) { return S_OK; }

HRESULT DownloadCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR) {
  switch (statusCode) {
    case BINDSTATUS_BEGINDOWNLOADDATA:
      owner_->setNumericProperty(L"downloadTotal", progressValue(progressMax));
      break;
    case BINDSTATUS_DOWNLOADINGDATA:
    case BINDSTATUS_ENDDOWNLOADDATA:
      dataSeen_ = true;
      owner_->setNumericProperty(L"downloadCurrent", progressValue(progress));
      break;
    default:
      break;
  }
  return S_OK;
}

HRESULT DownloadCallback::OnStopBinding(HRESULT, LPCWSTR) { return S_OK; }
HRESULT DownloadCallback::GetBindInfo(DWORD*, BINDINFO*) { return S_OK; }
HRESULT DownloadCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return S_OK; }
HRESULT DownloadCallback::OnObjectAvailable(REFIID, IUnknown*) { return S_OK; }

std::int32_t HtmlExternal::DownloadPackage(const std::wstring& url) {
  // Without a work folder of its own the package would land in the current folder.
  if (workFolder_.empty()) {
    if (logger_) logger_->error(L"QJDownload: no work folder");
    return kDownloadFailed;
  }
  downloadPath_ = workFolder_ + PathFindFileNameW(url.c_str());
  std::optional<Sha256Digest> pin = packageSha256Pin_;
  std::uint64_t sizeLimit = kNoSizeLimit;
  // With a manifest key pinned, the package is the one its signed manifest names, and no other.
  if (manifestPolicy_) {
    PackageManifest manifest;
    const std::int32_t code = fetchPackageManifest(url, &manifest);
    if (code != kDownloadSucceeded) return code;
    pin = manifest.sha256;
    sizeLimit = manifest.size;
  }
  return downloadFile(url, downloadPath_, pin, sizeLimit, true);
}

std::int32_t HtmlExternal::downloadFile(const std::wstring& url, const std::wstring& path,
                                        const std::optional<Sha256Digest>& pin, std::uint64_t sizeLimit,
                                        bool zipExpected) {
  AttemptBudget budget;
  PackageHasher hasher;
  ResumePoint resume;
  // A proxy's demand for a sign-in is answered once per download, with the best credentials there
  // are; a second demand refuses them, and the page asks the user.
  std::optional<ProxyCredentials> signIn;
  bool signInTried = false;
  bool signInHeader = false;
  serverNameFound_ = false;
  for (;;) {
    if (resume.resumes()) {
      logger_->debug(L"Download continues at byte %s", std::to_wstring(resume.offset).c_str());
    }
    const AttemptOutcome outcome =
        runAttempt(this, url, path, resume, pin ? &hasher : nullptr, sizeLimit, zipExpected,
                   {signIn ? &*signIn : nullptr, signInHeader});
    serverNameFound_ = serverNameFound_ || outcome.connected;
    if (outcome.result == static_cast<HRESULT>(kHresultProxySignIn)) {
      if (!signInTried) {
        signInTried = true;
        signIn = proxyCredentialsFor(url);
        signInHeader = configuredProxy(url).has_value();
        if (signIn) continue;  // at once: the proxy answered, nothing is wrong with the network
      }
      refuseProxySignIn(url, signIn ? &*signIn : nullptr, outcome.proxyOffersBasic);
    }
    // More than the signed size is not the signed package: no other attempt would serve less.
    if (outcome.result == static_cast<HRESULT>(kTransferTooLarge)) {
      DeleteFileW(path.c_str());
      refuseOversize(sizeLimit);
      return kDownloadFailed;
    }
    const std::int32_t code = TransferDownloadError(outcome.result);
    // A complete package that is not the pinned one ends the download at once: a server that serves
    // the wrong file would serve it again on every attempt.
    if (code == kDownloadSucceeded && pin) {
      const std::optional<Sha256Digest> digest = hasher ? hasher->finish() : std::nullopt;
      if (!(digest && *digest == *pin)) {
        DeleteFileW(path.c_str());
        refusePackage(*pin, digest);
        return kDownloadFailed;
      }
    }
    // The part of a package that filled the disk would hold the space that the page asks the user
    // to free, until the end of the run.
    if (code == kDownloadDiskFull) DeleteFileW(path.c_str());
    if (code == kDownloadNotAPackage) {
      DeleteFileW(path.c_str());
      logger_->error(L"QJDownload: the answer from %s is a web page or no zip archive, not the package: "
                     L"a network that asks to sign in first?", url.c_str());
    }
    logSecureConnectionRefusal(code, url);
    if (code != kDownloadTransient) return code;
    resume = outcome.next;
    const bool another = budget.allowsRetryAfter(outcome.packageBytes);
    // Nobody waits for the next attempt once the run is ending.
    if (pauseUnlessStopping(kRetryPauseMilliseconds)) return code;
    if (!another) return kDownloadTransient;
  }
}

std::optional<ProxyCredentials> HtmlExternal::proxyCredentialsFor(const std::wstring& url) {
  {
    sysenv::CriticalSectionLock hold(lock_);
    // What the user has just typed on the page comes before what was saved, which may be why the
    // page asked.
    if (pageProxyCredentials_) {
      logger_->debug(L"QJDownload: signing in to the proxy as %s, as the page was told",
                     pageProxyCredentials_->user().c_str());
      return pageProxyCredentials_;
    }
  }
  const std::optional<ProxyEndpoint> proxy = configuredProxy(url);
  if (!proxy) return std::nullopt;
  std::optional<ProxyCredentials> saved = savedProxyCredentials(*proxy);
  if (saved) {
    logger_->debug(L"QJDownload: signing in to the proxy %s as %s, with the credentials saved for it",
                   sysenv::toWide(proxy->name()).c_str(), saved->user().c_str());
  }
  return saved;
}

void HtmlExternal::refuseProxySignIn(const std::wstring& url, const ProxyCredentials* tried, bool basicOffered) {
  const std::optional<ProxyEndpoint> proxy = configuredProxy(url);
  const std::wstring name = proxy ? sysenv::toWide(proxy->name()) : std::wstring(L"of the system's settings");
  const wchar_t* offer = basicOffered ? L"it offers Basic sign-in" : L"it offers no Basic sign-in";
  if (tried != nullptr) {
    logger_->error(L"QJDownload: the proxy %s refused the sign-in as %s for %s (%s): sign in again with the "
                   L"right password", name.c_str(), tried->user().c_str(), url.c_str(), offer);
  } else {
    logger_->error(L"QJDownload: the proxy %s wants a sign-in for %s (%s) and no credentials were given: sign in "
                   L"on the page, or save the proxy's user name and password in Credential Manager as a generic "
                   L"credential named %s", name.c_str(), url.c_str(), offer,
                   proxy ? sysenv::toWide(proxy->name()).c_str() : L"after the proxy (host:port)");
  }
}

// Neither is retried: the same certificate would come back on every attempt.
void HtmlExternal::logSecureConnectionRefusal(std::int32_t code, const std::wstring& url) {
  if (code == kDownloadCertificateDate) {
    logger_->error(L"QJDownload: the certificate of %s has expired or is not valid yet: is the computer's "
                   L"date and time right?", url.c_str());
  } else if (code == kDownloadUntrustedCertificate) {
    logger_->error(L"QJDownload: the certificate of %s is not one this computer trusts: a network that "
                   L"inspects secure connections, or a server without a trusted certificate?", url.c_str());
  }
}

void HtmlExternal::refuseOversize(std::uint64_t sizeLimit) {
  logger_->error(L"%s", sysenv::toWide(packageOversizeLine(sizeLimit)).c_str());
  recordTrustFailure(kPackageHashStage, reportCode(kPackageHashMismatch));
}

void HtmlExternal::refusePackage(const Sha256Digest& expected, const std::optional<Sha256Digest>& found) {
  // Without CNG nothing was checked, and an unchecked package is refused like a wrong one.
  const std::u16string line = found ? packageHashMismatchLine(expected, *found)
                                    : u"Package hash not computed, expected SHA-256 " + hexDigest(expected) +
                                          u"; the package was deleted";
  logger_->error(L"%s", sysenv::toWide(line).c_str());
  recordTrustFailure(kPackageHashStage, reportCode(kPackageHashMismatch));
}

std::int32_t HtmlExternal::TransferDownloadError(HRESULT hr) {
  logger_->debug(L"TransferDownloadError HRESULT: %x", static_cast<unsigned>(hr));
  FreeSpace freeSpace = FreeSpace::kUnknown;
  if (mappingNeedsFreeSpace(static_cast<std::uint32_t>(hr))) {
    ULARGE_INTEGER totalFree{};
    if (GetDiskFreeSpaceExW(workFolder_.c_str(), nullptr, nullptr, &totalFree)) {
      freeSpace = totalFree.QuadPart == 0 ? FreeSpace::kNone : FreeSpace::kSome;
    }
  }
  return mapTransferResult(static_cast<std::uint32_t>(hr), freeSpace);
}

}  // namespace downloadmanagercore
