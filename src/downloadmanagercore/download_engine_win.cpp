// Win32 code. The download engine: pulls the package from its URL into the work folder through the
// system's URL service, attempt after attempt, and reduces the outcome to the page's result code.
// The decisions (mapping, short transfers, HTTP statuses, the attempt budget) are plain code in
// download_rules; this file only drives the service, the file and the message pump.
#include <windows.h>
#include <shlwapi.h>
#include <urlmon.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "downloadmanagercore/download_callback_win.h"
#include "downloadmanagercore/download_engine_win.h"
#include "downloadmanagercore/download_rules.h"
#include "downloadmanagercore/package_answer.h"
#include "downloadmanagercore/package_manifest.h"
#include "downloadmanagercore/package_trust.h"
#include "downloadmanagercore/resume_rules.h"
#include "downloadmanagercore/html_external_win.h"
#include "htmlui/script_callback_win.h"
#include "sysenv/com_object_win.h"
#include "sysenv/scratch_folder_win.h"
#include "sysenv/sha256_win.h"
#include "sysenv/system_dll_win.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/wide_text_win.h"
#include "sysenv/write_all_win.h"

using Microsoft::WRL::ComPtr;

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

namespace {

std::atomic<unsigned> receiveTimeout{kReceiveTimeoutMilliseconds};

}  // namespace

unsigned receiveTimeoutMilliseconds() { return receiveTimeout; }
void setReceiveTimeoutMillisecondsForTests(unsigned milliseconds) { receiveTimeout = milliseconds; }

namespace {

// What the URL moniker needs to deliver the data as the pull-stream service does: asynchronously,
// through a stream that the writer reads, fresh from the server and never into the cache.
constexpr DWORD kMonikerPullBindFlags =
    BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE;
// A range request must reach the server: a cache (the system's or a proxy's) that answered it with
// what it kept would hand back bytes that no validator was checked against.
constexpr DWORD kResumeBindFlags = BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE;

bool isPackageDataStatus(ULONG statusCode) {
  return statusCode == BINDSTATUS_BEGINDOWNLOADDATA || statusCode == BINDSTATUS_DOWNLOADINGDATA ||
         statusCode == BINDSTATUS_ENDDOWNLOADDATA;
}

// SHA-256 of the package as far as it is on disk, kept across attempts so that a resumed package is
// hashed whole; empty when no hash is pinned.
using PackageHasher = std::optional<sysenv::Sha256>;

// Writes the transfer's data to the package file and settles the attempt's result; forwards the
// notifications to the attempt's DownloadCallback. Every notification arrives on the download
// worker thread while it pumps messages; only the reference count is touched from elsewhere.
class BSCHolder final : public sysenv::ComObject<sysenv::InterlockedCount, sysenv::ComInterface<IBindStatusCallback>,
                                                 sysenv::ComInterface<IHttpNegotiate>> {
 public:
  // `file` holds `resume.offset` bytes of the package and its pointer stands after them when
  // `resume.resumes()`; otherwise it is empty. `hasher`, when given, has seen exactly the bytes in
  // the file and receives every byte written to it, in order; it is restarted with the file.
  BSCHolder(HANDLE file, IBindStatusCallback* inner, const std::wstring& url, const ResumePoint& resume,
            PackageHasher* hasher, std::uint64_t sizeLimit, bool zipExpected)
      : sizeLimit_(sizeLimit),
        zipExpected_(zipExpected),
        file_(file),
        inner_(inner),
        lastHeard_(GetTickCount()),
        location_(sysenv::toU16(url)),
        hasher_(hasher),
        resumeAsked_(resume.resumes()),
        base_(resumeAsked_ ? resume.offset : 0),
        validator_(resumeAsked_ ? resume.validator : std::u16string()),
        total_(resumeAsked_ ? resume.total : -1) {}

  // E_PENDING while the transfer runs.
  HRESULT result() const { return result_; }
  // Milliseconds since the service last told the holder anything (the start counts).
  DWORD silentFor() const { return GetTickCount() - lastHeard_; }
  // How far into the package the file reaches: the bytes kept from earlier attempts (unless the
  // package started over) and those written in this one.
  std::uint64_t packageBytes() const { return base_ + written_; }
  // Where the next attempt may continue: the package's bytes on disk, and the validator and length of
  // the answer that they came from. Nothing to continue after a range answer that was not the rest.
  ResumePoint resumePoint() const {
    if (rangeRefused_) return {};
    return {packageBytes(), validator_, total_};
  }
  // The URL moniker binds synchronously into the cache unless the bind flags ask for a pull stream.
  void requestPullBinding() { extraBindFlags_ = kMonikerPullBindFlags; }
  // Ends the holder's part in the attempt: a transfer still running is aborted, and no later
  // notification touches the file (which the attempt closes next) or reaches the page.
  void detach() {
    // A transfer that never stopped (a write error or a quit message ended the wait) keeps only
    // what was written.
    if (!stopped_) SetEndOfFile(file_);
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
      if (announced_ < 0) announced_ = static_cast<std::int64_t>(base_ + progressMax);
      // An announced length beyond the signed size is not the manifest's package: refused before a
      // byte of it is written or any space is claimed for it.
      if (static_cast<std::uint64_t>(announced_) > sizeLimit_) {
        writeFailed_ = true;
        result_ = static_cast<HRESULT>(kTransferTooLarge);
        refuseTransfer(static_cast<HRESULT>(kTransferTooLarge));
        return S_OK;
      }
      if (shouldClaimAnnouncedLength(static_cast<std::uint64_t>(announced_))) claimAnnouncedLength(announced_);
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
      SetEndOfFile(file_);  // cuts off the unwritten part of a pre-sized file
    } else {
      LARGE_INTEGER position{};
      LARGE_INTEGER size{};
      const bool known = SetFilePointerEx(file_, LARGE_INTEGER{}, &position, FILE_CURRENT) &&
                         GetFileSizeEx(file_, &size);
      // A length too long to claim on disk still tells a short transfer.
      const std::uint64_t expected =
          std::max(static_cast<std::uint64_t>(size.QuadPart), static_cast<std::uint64_t>(std::max<std::int64_t>(announced_, 0)));
      hr = static_cast<HRESULT>(settleStopResult(static_cast<std::uint32_t>(hr), known,
                                                 static_cast<std::uint64_t>(position.QuadPart), expected));
      if (hr == S_FALSE) SetEndOfFile(file_);
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
    if (!resumeAsked_) return S_OK;
    // The service frees the block with CoTaskMemFree.
    const std::wstring headers = sysenv::toWide(resumeRequestHeaders(base_, validator_));
    const std::size_t bytes = (headers.size() + 1) * sizeof(wchar_t);
    auto* block = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (block == nullptr) return E_OUTOFMEMORY;
    std::copy(headers.c_str(), headers.c_str() + headers.size() + 1, block);
    *additionalHeaders = block;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR,
                                       LPWSTR* additionalHeaders) override {
    if (additionalHeaders != nullptr) *additionalHeaders = nullptr;
    heard();
    const std::u16string headers = sysenv::toU16(responseHeaders != nullptr ? responseHeaders : L"");
    if (responseHeaders != nullptr) announced_ = contentLengthFromHeaders(headers);
    const HRESULT statusResult = static_cast<HRESULT>(httpStatusResult(status));
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
    const std::uint64_t whole = base_ + count;
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
      if (continuesPackage(status, headers, base_, total_, &total)) {
        announced_ = total_ = total;
        return S_OK;
      }
      if (status == kHttpStatusPartialContent) {
        // Some other part of the package: nothing of it is written, and the next attempt asks for
        // all of it. A transient end, so that the budget decides as for a broken transfer.
        rangeRefused_ = true;
        return refuseTransfer(static_cast<HRESULT>(kInetDownloadFailure)) ? S_OK : E_ABORT;
      }
      startOver();
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
    startOver();
    validator_.clear();
  }

  // The bytes kept from earlier attempts are dropped: the file, the count and the hash start again.
  void startOver() {
    base_ = 0;
    SetFilePointerEx(file_, LARGE_INTEGER{}, nullptr, FILE_BEGIN);
    SetEndOfFile(file_);
    if (hasher_ != nullptr) hasher_->emplace();
  }

  // Ends the attempt with `result`, whatever the service reports after it; no later data is written.
  // True when the binding was aborted (which may stop it before Abort returns).
  bool refuseTransfer(HRESULT result) {
    statusResult_ = result;
    const ComPtr<IBinding> binding = binding_;
    return binding && SUCCEEDED(binding->Abort());
  }

  // The file takes the announced length at once, so that the space is claimed before the data
  // arrives; whether the volume could extend it shows only when the data is written.
  void claimAnnouncedLength(std::int64_t length) {
    LARGE_INTEGER end{};
    end.QuadPart = length;
    if (!SetFilePointerEx(file_, end, nullptr, FILE_BEGIN)) return;
    SetEndOfFile(file_);
    LARGE_INTEGER next{};
    next.QuadPart = static_cast<LONGLONG>(base_);
    SetFilePointerEx(file_, next, nullptr, FILE_BEGIN);
  }

  bool writeToFile(const char* data, ULONG size) {
    // Whatever the server announced, not one byte beyond the signed size is written.
    if (packageBytes() + size > sizeLimit_) {
      writeFailed_ = true;
      result_ = static_cast<HRESULT>(kTransferTooLarge);
      return false;
    }
    // The package's first bytes must open a zip archive: anything else is no package, however it
    // was announced, and nothing of it is kept.
    if (zipExpected_ && packageBytes() < sizeof start_) {
      const std::size_t at = static_cast<std::size_t>(packageBytes());
      const std::size_t taken = std::min<std::size_t>(sizeof start_ - at, size);
      std::copy(data, data + taken, start_ + at);
      if (judgePackageStart(start_, at + taken) == PackageStart::kNotZip) {
        writeFailed_ = true;
        result_ = static_cast<HRESULT>(kHresultNotAPackage);
        return false;
      }
    }
    // A short write succeeds and leaves the last-error code as it was: only the write after it
    // says that the volume is full.
    std::size_t written = 0;
    const bool whole = sysenv::writeAll(file_, data, size, &written);
    written_ += written;
    if (hasher_ != nullptr && hasher_->has_value()) (*hasher_)->update(data, written);
    if (whole) return true;
    DWORD error = GetLastError();
    if (error == ERROR_SUCCESS) error = ERROR_DISK_FULL;
    writeFailed_ = true;
    result_ = static_cast<HRESULT>(hresultFromWin32(error));
    return false;
  }

  // The most bytes the file may hold: the manifest's size for the package, else no limit.
  const std::uint64_t sizeLimit_;
  // What is fetched is a package, which opens as a zip archive (a manifest does not).
  const bool zipExpected_;
  HRESULT result_ = E_PENDING;
  bool writeFailed_ = false;
  unsigned char start_[4] = {};  // the package's first bytes, as far as they have come
  HANDLE file_;
  ComPtr<IBindStatusCallback> inner_;
  // S_OK, or what the HTTP status of the answer (or a refused redirect) ends the attempt with.
  HRESULT statusResult_ = S_OK;
  // The announced length: the answer's Content-Length, else the service's count; -1 while unknown.
  std::int64_t announced_ = -1;
  std::uint64_t written_ = 0;
  DWORD lastHeard_;
  ComPtr<IBinding> binding_;
  DWORD extraBindFlags_ = 0;
  bool stopped_ = false;
  bool detached_ = false;
  // Where the transfer is now: the URL, then each redirect's target.
  std::u16string location_;
  PackageHasher* hasher_;
  // This attempt asks for the rest of the package, from base_ on, under validator_.
  const bool resumeAsked_;
  // Whether the answer to that request has been judged.
  bool decided_ = false;
  // The answer to the range request was a range, but not the rest.
  bool rangeRefused_ = false;
  // Where this attempt's first byte lies in the package.
  std::uint64_t base_;
  // The validator and length of the whole answer that the bytes on disk came from.
  std::u16string validator_;
  std::int64_t total_;
};

// Starts the transfer of `url` into the holder and keeps what the service needs while it runs.
class Transfer {
 public:
  HRESULT start(const std::wstring& url, BSCHolder* holder) {
    static const auto openPullStream =
        sysenv::systemFunction<decltype(&URLOpenPullStreamW)>(L"urlmon.dll", "URLOpenPullStreamW");
    const HRESULT hr = openPullStream ? openPullStream(nullptr, url.c_str(), 0, holder) : E_NOTIMPL;
    if (hr != E_NOTIMPL) return hr;
    return startThroughMoniker(url, holder);
  }

 private:
  // Where the pull-stream service is missing (Wine has only a stub), the URL moniker delivers the
  // same notifications to the same holder on this thread.
  HRESULT startThroughMoniker(const std::wstring& url, BSCHolder* holder) {
    static const auto createMoniker =
        sysenv::systemFunction<decltype(&CreateURLMonikerEx)>(L"urlmon.dll", "CreateURLMonikerEx");
    static const auto createContext =
        sysenv::systemFunction<decltype(&CreateAsyncBindCtx)>(L"urlmon.dll", "CreateAsyncBindCtx");
    if (createMoniker == nullptr || createContext == nullptr) return E_NOTIMPL;
    holder->requestPullBinding();
    HRESULT hr = createMoniker(nullptr, url.c_str(), moniker_.GetAddressOf(), URL_MK_UNIFORM);
    if (FAILED(hr)) return hr;
    hr = createContext(0, holder, nullptr, context_.GetAddressOf());
    if (FAILED(hr)) return hr;
    return moniker_->BindToStorage(context_.Get(), nullptr, IID_IStream,
                                   reinterpret_cast<void**>(stream_.GetAddressOf()));
  }

  ComPtr<IMoniker> moniker_;
  ComPtr<IBindCtx> context_;
  ComPtr<IStream> stream_;
};

// Pumps this thread's messages, which carry the service's notifications, until the holder has a
// result. A quit message is posted again for whoever pumps next and leaves the result E_PENDING.
// When the service has told nothing for the receive time-out, the attempt ends as timed out
// (INET_E_CONNECTION_TIMEOUT): the caller's detach aborts the binding.
HRESULT waitForTransfer(const BSCHolder& holder) {
  const DWORD timeout = receiveTimeoutMilliseconds();
  MSG message;
  while (holder.result() == E_PENDING) {
    const DWORD silent = holder.silentFor();
    if (silent >= timeout) return static_cast<HRESULT>(kInetConnectionTimeout);
    HANDLE stop = htmlui::scriptJobsStopEvent();
    const DWORD waited = MsgWaitForMultipleObjectsEx(stop != nullptr ? 1 : 0, &stop, timeout - silent, QS_ALLINPUT,
                                                     MWMO_INPUTAVAILABLE);
    // The run is ending: the caller's detach aborts the binding.
    if (stop != nullptr && waited == WAIT_OBJECT_0) return E_ABORT;
    if (waited == WAIT_TIMEOUT) continue;
    while (holder.result() == E_PENDING && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        return holder.result();
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return holder.result();
}

// Sleeps for `milliseconds`, or less when the run ends meanwhile: true then.
bool pauseUnlessStopping(DWORD milliseconds) {
  HANDLE stop = htmlui::scriptJobsStopEvent();
  if (stop == nullptr) {
    Sleep(milliseconds);
    return false;
  }
  return WaitForSingleObject(stop, milliseconds) == WAIT_OBJECT_0;
}

struct AttemptOutcome {
  HRESULT result;
  std::uint64_t packageBytes;
  // Where the next attempt may continue.
  ResumePoint next;
};

// The package file for an attempt: the bytes kept at `resume` with the pointer after them when the
// attempt continues the package (and the file still has exactly those bytes), else empty.
sysenv::UniqueFileHandle openPackageFile(const std::wstring& path, ResumePoint& resume) {
  if (resume.resumes()) {
    sysenv::UniqueFileHandle kept = sysenv::openScratchFile(path, GENERIC_WRITE, 0, OPEN_EXISTING);
    LARGE_INTEGER size{};
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(resume.offset);
    if (kept && GetFileSizeEx(kept.get(), &size) && static_cast<std::uint64_t>(size.QuadPart) == resume.offset &&
        SetFilePointerEx(kept.get(), end, nullptr, FILE_BEGIN)) {
      return kept;
    }
  }
  resume = {};
  return sysenv::openScratchFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
}

// One attempt: a fresh callback, the file (continued or empty), the transfer and the wait. With a
// `hasher`, the data is hashed as it is written: the file is never read back, so what was checked is
// what was written.
AttemptOutcome runAttempt(HtmlExternal* owner, const std::wstring& url, const std::wstring& path, ResumePoint resume,
                          PackageHasher* hasher, std::uint64_t sizeLimit, bool zipExpected) {
  ComPtr<DownloadCallback> callback;
  callback.Attach(new DownloadCallback(owner));
  sysenv::UniqueFileHandle file = openPackageFile(path, resume);
  if (!file) return {static_cast<HRESULT>(hresultFromWin32(GetLastError())), 0, {}};
  if (hasher != nullptr && !resume.resumes()) hasher->emplace();

  ComPtr<BSCHolder> holder;
  holder.Attach(new BSCHolder(file.get(), callback.Get(), url, resume, hasher, sizeLimit, zipExpected));
  HRESULT hr;
  {
    Transfer transfer;
    hr = transfer.start(url, holder.Get());
    if (SUCCEEDED(hr)) hr = waitForTransfer(*holder.Get());
    holder->detach();
  }
  // Detached: no later notification writes (or hashes) anything.
  return {hr, holder->packageBytes(), holder->resumePoint()};
}

}  // namespace

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
  for (;;) {
    if (resume.resumes()) {
      logger_->debug(L"Download continues at byte %s", std::to_wstring(resume.offset).c_str());
    }
    const AttemptOutcome outcome = runAttempt(this, url, path, resume, pin ? &hasher : nullptr, sizeLimit, zipExpected);
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
    if (code != kDownloadTransient) return code;
    resume = outcome.next;
    const bool another = budget.allowsRetryAfter(outcome.packageBytes);
    // Nobody waits for the next attempt once the run is ending.
    if (pauseUnlessStopping(kRetryPauseMilliseconds)) return code;
    if (!another) return kDownloadTransient;
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
