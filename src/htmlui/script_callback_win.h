// Win32 code. How native work hands a result back to the page: a command receives a page function
// (VT_DISPATCH), marshals it on the UI thread and starts a worker thread; the worker does the job in
// the multithreaded apartment and calls the function once with one integer. The call travels through
// COM's cross-apartment channel and runs on the UI thread, which must keep dispatching messages.
//
// A command, on the UI thread:
//   auto job = std::make_unique<DownloadJob>(this, url);          // takes a reference on `this`
//   HRESULT hr = job->marshalCallback(callbackArgument);          // log the command's failure line
//   if (FAILED(hr)) return hr;                                    // the job frees itself
//   hr = htmlui::startScriptJob(std::move(job), DownloadThreadFunc);  // fails only without a thread
// The worker routine:
//   DWORD WINAPI DownloadThreadFunc(LPVOID job) { return htmlui::runScriptJob(job); }
#pragma once

#include <windows.h>

#include <oaidl.h>
#include <wrl/client.h>

#include <memory>

#include "app/logger_win.h"
#include "htmlui/mshtml_external_win.h"

namespace htmlui {

// Calls a page function with one VT_I4 argument (DISPID_VALUE, DISPATCH_METHOD, no named arguments,
// no result) and logs "call js callback." before and "callJscallback return %x." after. The HRESULT
// is returned for callers that care; a failure (the function threw) is only logged. `logger` may be
// null.
HRESULT callJscallback(app::Logger* logger, IDispatch* function, int value);

// A page function marshalled on the UI thread for one unmarshalling on another thread. Marshal data
// that is never unmarshalled is released (CoReleaseMarshalData, then the stream) when this goes, so a
// job that never starts leaves no reference on the page's function behind.
class MarshalledFunction {
 public:
  MarshalledFunction() = default;
  ~MarshalledFunction();
  MarshalledFunction(const MarshalledFunction&) = delete;
  MarshalledFunction& operator=(const MarshalledFunction&) = delete;

  // On the thread that owns `function`; replaces (and releases) anything marshalled before.
  HRESULT marshal(IDispatch* function);
  // On the receiving thread, once COM is initialised there. Consumes the stream whatever the
  // outcome (CoGetInterfaceAndReleaseStream releases it); E_UNEXPECTED when nothing is marshalled.
  HRESULT unmarshal(IDispatch** function);
  bool marshalled() const { return stream_ != nullptr; }

 private:
  void reset();
  IStream* stream_ = nullptr;
};

// The parameter block of an asynchronous command. It holds a reference on the object it works for,
// taken when the job is made and released by the worker as its very last step (after it has left
// its apartment), so the object outlives every worker even when the page closes the window from
// within the callback and the creator releases its own reference meanwhile. A job freed without
// running (marshalling or thread failure) releases everything it held on the spot.
class ScriptJob {
 public:
  virtual ~ScriptJob() = default;
  ScriptJob(const ScriptJob&) = delete;
  ScriptJob& operator=(const ScriptJob&) = delete;

  // On the UI thread, before startScriptJob. On failure the command logs its own line and returns
  // the HRESULT to the script; freeing the job undoes everything.
  HRESULT marshalCallback(IDispatch* function) { return callback_.marshal(function); }
  MSHTMLExternal* owner() const { return owner_.Get(); }

 protected:
  explicit ScriptJob(MSHTMLExternal* owner) : owner_(owner) {}  // AddRef

  // On the worker, in this order, after CoInitializeEx(COINIT_MULTITHREADED):
  // the job's DEBUG line;
  virtual void onWorkerStarted() {}
  // the job's ERROR line when the page function cannot be unmarshalled: then neither the work nor
  // the callback runs;
  virtual void onUnmarshalFailed(HRESULT) {}
  // the work and the callback (usually callJscallback(logger, callback, result)). The runner
  // releases the proxy afterwards.
  virtual void run(IDispatch* callback) = 0;

 private:
  friend DWORD runScriptJob(void* job);
  Microsoft::WRL::ComPtr<MSHTMLExternal> owner_;
  MarshalledFunction callback_;
};

// Creates the worker thread (default security and stack size) with `job` as its parameter and
// closes the thread handle at once: only waitForScriptJobs waits for workers. S_OK once the thread exists; when it
// cannot be created, the HRESULT of the failure (never a success code), with the job freed here and
// everything it held released, so the caller only reports the failure.
HRESULT startScriptJob(std::unique_ptr<ScriptJob> job, LPTHREAD_START_ROUTINE routine);

// The whole life of a job on its worker thread; a worker routine returns its value. Steps: enter the
// multithreaded apartment, onWorkerStarted, unmarshal the page function, run, release the proxy,
// free the job, CoUninitialize, and last the owner's Release (which may destroy the object here).
// Returns 0.
DWORD runScriptJob(void* job);

// Waits until every worker started by startScriptJob has finished its job's last step (the owner's
// Release, which may delete the object's work folder), dispatching this thread's messages meanwhile;
// false when `timeoutMs` pass first.
bool waitForScriptJobs(DWORD timeoutMs);

// The end of the page's apartment, on the UI thread before it leaves it: asks every running job to
// stop (scriptJobsStopping), then waits for every worker's last step as waitForScriptJobs does. The
// wait must come before CoUninitialize: a worker's last calls into the apartment (the release of its
// proxy to the page function, after the page has closed the window from inside the callback) are
// answered only while this thread still serves the apartment; after it, Wine leaves the worker
// waiting for good and Windows fails the call. True when no worker is left. Once every worker has
// finished, later jobs run normally again; otherwise the request stays, for the stragglers.
bool finishScriptJobs(DWORD timeoutMs);

// True from finishScriptJobs until every worker has finished: the page is gone, so a job stops at its
// next chance (a transfer is aborted, an unpacking ends before its next piece) and calls nobody back.
bool scriptJobsStopping();
// Signalled while scriptJobsStopping() is true, for a job that waits: a retry pause, a transfer.
HANDLE scriptJobsStopEvent();

namespace detail {
// The thread creation that startScriptJob uses; tests replace it to have creation fail.
using ThreadCreator = HANDLE (*)(LPTHREAD_START_ROUTINE routine, void* parameter);
HRESULT startScriptJobWith(std::unique_ptr<ScriptJob> job, LPTHREAD_START_ROUTINE routine,
                           ThreadCreator createThread);
}  // namespace detail

}  // namespace htmlui
