// Win32 code. One attempt of a download; see package_attempt_win.h. The decisions (HTTP statuses,
// short transfers, resumes, what an answer is) are plain code in download_rules, resume_rules and
// package_answer; this file applies them to the service's notifications and the file.
#include "downloadmanagercore/package_attempt_win.h"

#include <urlmon.h>
#include <wrl/client.h>

#include <algorithm>
#include <utility>

#include "downloadmanagercore/download_callback_win.h"
#include "downloadmanagercore/download_rules.h"
#include "downloadmanagercore/package_answer.h"
#include "downloadmanagercore/package_file_win.h"
#include "downloadmanagercore/package_manifest.h"
#include "downloadmanagercore/proxy_sign_in.h"
#include "downloadmanagercore/url_transfer_win.h"
#include "sysenv/com_object_win.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/wide_text_win.h"

using Microsoft::WRL::ComPtr;

namespace downloadmanagercore {

namespace {

// What the URL moniker needs to deliver the data as the pull-stream service does: asynchronously,
// through a stream that the writer reads, fresh from the server and never into the cache.
constexpr DWORD kMonikerPullBindFlags =
    BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE;
// A range request must reach the server: a cache (the system's or a proxy's) that answered it with
// what it kept would hand back bytes that no validator was checked against.
constexpr DWORD kResumeBindFlags = BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE;

// A copy in task memory, which the URL service frees with CoTaskMemFree; null when out of memory.
LPWSTR taskMemoryCopy(const std::wstring& text) {
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* block = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (block != nullptr) std::copy(text.c_str(), text.c_str() + text.size() + 1, block);
  return block;
}

bool isPackageDataStatus(ULONG statusCode) {
  return statusCode == BINDSTATUS_BEGINDOWNLOADDATA || statusCode == BINDSTATUS_DOWNLOADINGDATA ||
         statusCode == BINDSTATUS_ENDDOWNLOADDATA;
}

// Writes the transfer's data to the package file and settles the attempt's result; forwards the
// notifications to the attempt's DownloadCallback. Every notification arrives on the download
// worker thread while it pumps messages; only the reference count is touched from elsewhere.
class BSCHolder final : public sysenv::ComObject<sysenv::InterlockedCount, sysenv::ComInterface<IBindStatusCallback>,
                                                 sysenv::ComInterface<IHttpNegotiate>,
                                                 sysenv::ComInterface<IHttpSecurity, IWindowForBindingUI>,
                                                 sysenv::ComInterface<IAuthenticateEx, IAuthenticate>> {
 public:
  // `file` holds `resume.offset` bytes of the package and its pointer stands after them when
  // `resume.resumes()`; otherwise it is empty. `hasher`, when given, has seen exactly the bytes in
  // the file and receives every byte written to it, in order; it is restarted with the file.
  BSCHolder(HANDLE file, IBindStatusCallback* inner, const std::wstring& url, const ResumePoint& resume,
            PackageHasher* hasher, std::uint64_t sizeLimit, bool zipExpected, const ProxySignIn& proxySignIn)
      : zipExpected_(zipExpected),
        file_(file, resume.resumes() ? resume.offset : 0, hasher, sizeLimit, zipExpected),
        inner_(inner),
        lastHeard_(GetTickCount()),
        location_(sysenv::toU16(url)),
        resumeAsked_(resume.resumes()),
        validator_(resumeAsked_ ? resume.validator : std::u16string()),
        total_(resumeAsked_ ? resume.total : -1),
        proxySignIn_(proxySignIn.credentials),
        proxyHeader_(proxySignIn.header) {}

  // E_PENDING while the transfer runs.
  HRESULT result() const { return result_; }
  // Milliseconds since the service last told the holder anything (the start counts).
  DWORD silentFor() const { return GetTickCount() - lastHeard_; }
  // How far into the package the file reaches: the bytes kept from earlier attempts (unless the
  // package started over) and those written in this one.
  std::uint64_t packageBytes() const { return file_.bytes(); }
  // Where the next attempt may continue: the package's bytes on disk, and the validator and length of
  // the answer that they came from. Nothing to continue after a range answer that was not the rest.
  ResumePoint resumePoint() const {
    if (rangeRefused_) return {};
    return {packageBytes(), validator_, total_};
  }
  // The service got as far as connecting to a server (or proxy): the name was found.
  bool connected() const { return connected_; }
  // The answer was a proxy's 407 that offers Basic sign-in.
  bool proxyOffersBasic() const { return proxyOffersBasic_; }
  // The URL moniker binds synchronously into the cache unless the bind flags ask for a pull stream.
  void requestPullBinding() { extraBindFlags_ = kMonikerPullBindFlags; }
  // Ends the holder's part in the attempt: a transfer still running is aborted, and no later
  // notification touches the file (which the attempt closes next) or reaches the page.
  void detach() {
    // A transfer that never stopped (a write error or a quit message ended the wait) keeps only
    // what was written.
    if (!stopped_) file_.cutAtPointer();
    detached_ = true;
    ComPtr<IBinding> binding = std::move(binding_);
    if (binding) binding->Abort();
  }

  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override {
    heard();
    // Kept so that an HTTP error status or the end of the wait can abort the transfer.
    binding_ = binding;
    return inner_ ? inner_->OnStartBinding(reserved, binding) : E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override {
    return inner_ ? inner_->GetPriority(priority) : E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override {
    return inner_ ? inner_->OnLowResource(reserved) : E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override {
    if (detached_) return S_OK;
    heard();
    if (statusCode == BINDSTATUS_CONNECTING || statusCode == BINDSTATUS_SENDINGREQUEST ||
        statusCode == BINDSTATUS_REDIRECTING || isPackageDataStatus(statusCode)) {
      connected_ = true;
    }
    if (statusCode == BINDSTATUS_REDIRECTING) {
      const std::u16string target = sysenv::toU16(statusText ? statusText : L"");
      if (!isFollowableRedirect(location_, target)) {
        // The service has not followed it yet: nothing of the target is read.
        refuseTransfer(static_cast<HRESULT>(kInetRedirectFailed));
        return E_ABORT;
      }
      location_ = target;
    }
    // The length of the redirect's own answer is not the package's.
    if (statusCode == BINDSTATUS_REDIRECTING) announced_ = -1;
    // The body of an HTTP error answer is no part of the package: it neither sizes the file nor
    // counts as data received.
    if (isPackageDataStatus(statusCode) && FAILED(statusResult_)) return S_OK;
    if (isPackageDataStatus(statusCode)) settleUnansweredResume();
    if (statusCode == BINDSTATUS_BEGINDOWNLOADDATA) {
      // The header's own length where there is one: the service's 32-bit count loses a longer one.
      if (announced_ < 0) announced_ = static_cast<std::int64_t>(file_.base() + progressMax);
      // An announced length beyond the signed size is not the manifest's package: refused before a
      // byte of it is written or any space is claimed for it.
      if (static_cast<std::uint64_t>(announced_) > file_.sizeLimit()) {
        writeFailed_ = true;
        result_ = static_cast<HRESULT>(kTransferTooLarge);
        refuseTransfer(static_cast<HRESULT>(kTransferTooLarge));
        return S_OK;
      }
      if (shouldClaimAnnouncedLength(static_cast<std::uint64_t>(announced_))) file_.claimLength(announced_);
    }
    // The page counts the whole package: the service counts only this answer's part of it.
    if (isPackageDataStatus(statusCode)) {
      progress = inPackage(progress);
      progressMax = inPackage(progressMax);
    }
    return inner_ ? inner_->OnProgress(progress, progressMax, statusCode, statusText) : E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT hr, LPCWSTR errorText) override {
    const ComPtr<IBinding> finished = std::move(binding_);
    if (detached_) return S_OK;
    stopped_ = true;
    // An HTTP error status ends the attempt whatever the service reports after it.
    if (FAILED(statusResult_)) hr = statusResult_;
    if (hr != S_OK) {
      file_.cutAtPointer();  // cuts off the unwritten part of a pre-sized file
    } else {
      std::uint64_t position = 0;
      std::uint64_t size = 0;
      const bool known = file_.pointerAndSize(&position, &size);
      // A length too long to claim on disk still tells a short transfer.
      const std::uint64_t expected = std::max(size, static_cast<std::uint64_t>(std::max<std::int64_t>(announced_, 0)));
      hr = static_cast<HRESULT>(settleStopResult(static_cast<std::uint32_t>(hr), known, position, expected));
      if (hr == S_FALSE) file_.cutAtPointer();
    }
    // A write error stored earlier survives the stop notification.
    if (!writeFailed_) result_ = hr;
    return inner_ ? inner_->OnStopBinding(hr, errorText) : E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override {
    if (!inner_) return E_NOTIMPL;
    const HRESULT hr = inner_->GetBindInfo(bindFlags, bindInfo);
    if (SUCCEEDED(hr) && bindFlags != nullptr) *bindFlags |= extraBindFlags_ | (resumeAsked_ ? kResumeBindFlags : 0);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM* medium) override {
    if (detached_) return E_ABORT;
    heard();
    if (medium == nullptr || medium->tymed != TYMED_ISTREAM || medium->pstm == nullptr) return E_INVALIDARG;
    if (SUCCEEDED(statusResult_)) settleUnansweredResume();
    // The stream is read until it stops giving data; the announced size is not trusted.
    char buffer[kReadChunkBytes];
    for (;;) {
      ULONG read = 0;
      const HRESULT hr = medium->pstm->Read(buffer, sizeof buffer, &read);
      // Data after an HTTP error status is the server's error page: read to keep the transfer
      // moving, never written.
      if (read > 0 && SUCCEEDED(statusResult_) && !writeToFile(buffer, read)) return E_ABORT;
      if (hr == S_OK && read > 0) continue;
      if (hr == S_OK || hr == E_PENDING || hr == S_FALSE) return S_OK;
      return hr;
    }
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders) override {
    if (additionalHeaders == nullptr) return S_OK;
    *additionalHeaders = nullptr;
    std::wstring headers = resumeAsked_ ? sysenv::toWide(resumeRequestHeaders(file_.base(), validator_)) : std::wstring();
    // Wine's URL service never asks for a proxy sign-in (see AuthenticateEx): the engine answers the
    // proxy's Basic challenge itself. Only over plain http, where the request goes to the proxy; an
    // https request's headers go inside the tunnel, to the server, which must never see them.
    if (proxySignIn_ != nullptr && proxyHeader_ && urlHost(location_).scheme == u"http") {
      headers += proxySignIn_->basicAuthorization();
    }
    if (headers.empty()) return S_OK;
    *additionalHeaders = taskMemoryCopy(headers);
    SecureZeroMemory(&headers[0], headers.size() * sizeof(wchar_t));
    return *additionalHeaders != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  // What Windows' URL service asks when a server or proxy wants a sign-in that the system could not
  // give by itself. Only a proxy gets the user's credentials; a package server never does.
  HRESULT STDMETHODCALLTYPE Authenticate(HWND* window, LPWSTR* user, LPWSTR* password) override {
    AUTHENTICATEINFO server{};
    return AuthenticateEx(window, user, password, &server);
  }
  HRESULT STDMETHODCALLTYPE AuthenticateEx(HWND* window, LPWSTR* user, LPWSTR* password,
                                           AUTHENTICATEINFO* info) override {
    if (window == nullptr || user == nullptr || password == nullptr) return E_INVALIDARG;
    *window = nullptr;
    *user = *password = nullptr;
    // No credentials of its own: the answer that asked reaches OnResponse as it is.
    if (proxySignIn_ == nullptr || info == nullptr || (info->dwFlags & AUTHENTICATEF_PROXY) == 0) return S_OK;
    *user = taskMemoryCopy(proxySignIn_->user());
    *password = taskMemoryCopy(proxySignIn_->password());
    if (*user != nullptr && *password != nullptr) return S_OK;
    CoTaskMemFree(*user);
    CoTaskMemFree(*password);
    *user = *password = nullptr;
    return E_OUTOFMEMORY;
  }
  // Asked before the service shows its own dialog for a binding: there is no window to show one in.
  // Without a window the service settles the problem itself, as a refusal.
  HRESULT STDMETHODCALLTYPE GetWindow(REFGUID, HWND* window) override {
    if (window == nullptr) return E_INVALIDARG;
    *window = nullptr;
    return S_FALSE;
  }
  // A secure connection that the service does not trust. Nothing is ever waved through; the
  // service's own code for the problem is kept, since its final result (INET_E_INVALID_CERTIFICATE
  // or E_ABORT) no longer tells a wrong clock from an untrusted issuer, and only the first is the
  // user's to mend.
  HRESULT STDMETHODCALLTYPE OnSecurityProblem(DWORD problem) override {
    heard();
    if (SUCCEEDED(statusResult_)) statusResult_ = static_cast<HRESULT>(securityProblemResult(problem));
    return E_ABORT;
  }

  HRESULT STDMETHODCALLTYPE OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR,
                                       LPWSTR* additionalHeaders) override {
    if (additionalHeaders != nullptr) *additionalHeaders = nullptr;
    heard();
    connected_ = true;
    const std::u16string headers = sysenv::toU16(responseHeaders != nullptr ? responseHeaders : L"");
    if (responseHeaders != nullptr) announced_ = contentLengthFromHeaders(headers);
    const HRESULT statusResult = static_cast<HRESULT>(httpStatusResult(status));
    if (statusResult == static_cast<HRESULT>(kHresultProxySignIn)) proxyOffersBasic_ = offersBasicProxySignIn(headers);
    // A web page where the package should be: the network's sign-in page, whatever the status.
    if (zipExpected_ && statusResult == S_OK && announcesWebPage(headers)) {
      return refuseTransfer(static_cast<HRESULT>(kHresultNotAPackage)) ? S_OK : E_ABORT;
    }
    // An error status keeps the bytes on disk for the next attempt: it says nothing about them.
    if (statusResult == S_OK) return settleResume(status, headers);
    // Wine ignores a failure returned from here and delivers the error page as data; aborting the
    // binding ends the transfer at once everywhere.
    return refuseTransfer(statusResult) ? S_OK : E_ABORT;
  }

 private:
  ~BSCHolder() override = default;

  void heard() { lastHeard_ = GetTickCount(); }

  // A count of the service's within this answer, as a count within the whole package.
  ULONG inPackage(ULONG count) const {
    const std::uint64_t whole = file_.base() + count;
    constexpr std::uint64_t kLargest = 0xFFFFFFFFu;
    return static_cast<ULONG>(whole > kLargest ? kLargest : whole);
  }

  // Judges a successful answer: the rest of the package is appended; anything else to a range
  // request starts the package over, or ends the attempt when it carries a range that is not the
  // rest. A whole answer's validator and length guard the next attempt's range request.
  HRESULT settleResume(DWORD status, const std::u16string& headers) {
    if (resumeAsked_ && !decided_) {
      decided_ = true;
      std::int64_t total = -1;
      if (continuesPackage(status, headers, file_.base(), total_, &total)) {
        announced_ = total_ = total;
        return S_OK;
      }
      if (status == kHttpStatusPartialContent) {
        // Some other part of the package: nothing of it is written, and the next attempt asks for
        // all of it. A transient end, so that the budget decides as for a broken transfer.
        rangeRefused_ = true;
        return refuseTransfer(static_cast<HRESULT>(kInetDownloadFailure)) ? S_OK : E_ABORT;
      }
      file_.startOver();
    }
    validator_ = resumeValidator(headers);
    total_ = announced_;
    return S_OK;
  }

  // Data without an answer that said it is the rest (a transport that reports no HTTP answer) is
  // taken as the whole package.
  void settleUnansweredResume() {
    if (!resumeAsked_ || decided_) return;
    decided_ = true;
    file_.startOver();
    validator_.clear();
  }

  bool writeToFile(const char* data, ULONG size) {
    const HRESULT written = file_.write(data, size);
    if (SUCCEEDED(written)) return true;
    writeFailed_ = true;
    result_ = written;
    return false;
  }

  // Ends the attempt with `result`, whatever the service reports after it; no later data is written.
  // True when the binding was aborted (which may stop it before Abort returns).
  bool refuseTransfer(HRESULT result) {
    statusResult_ = result;
    const ComPtr<IBinding> binding = binding_;
    return binding && SUCCEEDED(binding->Abort());
  }

  // What is fetched is a package, which opens as a zip archive (a manifest does not).
  const bool zipExpected_;
  HRESULT result_ = E_PENDING;
  bool writeFailed_ = false;
  PackageFile file_;
  ComPtr<IBindStatusCallback> inner_;
  // S_OK, or what the HTTP status of the answer (or a refused redirect) ends the attempt with.
  HRESULT statusResult_ = S_OK;
  // The announced length: the answer's Content-Length, else the service's count; -1 while unknown.
  std::int64_t announced_ = -1;
  DWORD lastHeard_;
  ComPtr<IBinding> binding_;
  DWORD extraBindFlags_ = 0;
  bool stopped_ = false;
  bool detached_ = false;
  // Where the transfer is now: the URL, then each redirect's target.
  std::u16string location_;
  // This attempt asks for the rest of the package, from the file's base on, under validator_.
  const bool resumeAsked_;
  // Whether the answer to that request has been judged.
  bool decided_ = false;
  // The answer to the range request was a range, but not the rest.
  bool rangeRefused_ = false;
  // The validator and length of the whole answer that the bytes on disk came from.
  std::u16string validator_;
  std::int64_t total_;
  // The credentials for the proxy's sign-in in this attempt, if any.
  const ProxyCredentials* proxySignIn_;
  const bool proxyHeader_;
  bool proxyOffersBasic_ = false;
  bool connected_ = false;
};

}  // namespace

AttemptOutcome runAttempt(HtmlExternal* owner, const std::wstring& url, const std::wstring& path, ResumePoint resume,
                          PackageHasher* hasher, std::uint64_t sizeLimit, bool zipExpected,
                          const ProxySignIn& proxySignIn) {
  ComPtr<DownloadCallback> callback;
  callback.Attach(new DownloadCallback(owner));
  sysenv::UniqueFileHandle file = openPackageFile(path, resume);
  if (!file) return {static_cast<HRESULT>(hresultFromWin32(GetLastError())), 0, {}};
  if (hasher != nullptr && !resume.resumes()) hasher->emplace();

  ComPtr<BSCHolder> holder;
  holder.Attach(new BSCHolder(file.get(), callback.Get(), url, resume, hasher, sizeLimit, zipExpected, proxySignIn));
  HRESULT hr;
  {
    UrlTransfer transfer;
    BSCHolder* const writer = holder.Get();
    hr = transfer.start(url, writer, [writer] { writer->requestPullBinding(); });
    if (SUCCEEDED(hr)) {
      hr = waitForTransfer({[writer] { return writer->result(); }, [writer] { return writer->silentFor(); }});
    }
    holder->detach();
  }
  // Detached: no later notification writes (or hashes) anything.
  return {hr, holder->packageBytes(), holder->resumePoint(), holder->proxyOffersBasic(), holder->connected()};
}

}  // namespace downloadmanagercore
