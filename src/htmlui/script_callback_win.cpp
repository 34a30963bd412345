// Win32 code. The script-callback protocol: marshalled page functions, the job workers and their end.
#include "htmlui/script_callback_win.h"

#include <objbase.h>

#include <utility>

#include "sysenv/critical_section_win.h"
#include "sysenv/unique_handle_win.h"

namespace htmlui {

HRESULT callJscallback(app::Logger* logger, IDispatch* function, int value) {
  if (logger != nullptr) logger->debugNarrow("call js callback.");
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_I4;
  argument.lVal = value;
  DISPPARAMS params = {&argument, nullptr, 1, 0};
  const HRESULT hr = function != nullptr
                         ? function->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &params,
                                            nullptr, nullptr, nullptr)
                         : E_POINTER;
  if (logger != nullptr) logger->debug(L"callJscallback return %x.", static_cast<unsigned>(hr));
  return hr;
}

MarshalledFunction::~MarshalledFunction() { reset(); }

void MarshalledFunction::reset() {
  if (stream_ == nullptr) return;
  // The stream holds marshal data that keeps the function alive until it is unmarshalled or
  // released; releasing only the stream would leak that reference.
  CoReleaseMarshalData(stream_);
  stream_->Release();
  stream_ = nullptr;
}

HRESULT MarshalledFunction::marshal(IDispatch* function) {
  reset();
  if (function == nullptr) return E_POINTER;
  return CoMarshalInterThreadInterfaceInStream(IID_IDispatch, function, &stream_);
}

HRESULT MarshalledFunction::unmarshal(IDispatch** function) {
  *function = nullptr;
  if (stream_ == nullptr) return E_UNEXPECTED;
  IStream* stream = std::exchange(stream_, nullptr);
  return CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, reinterpret_cast<void**>(function));
}

namespace {

// The workers that have not finished yet, an event that is set while there are none, and the stop
// request of the tear-down, which lasts until the last of them has finished.
class RunningWorkers {
 public:
  RunningWorkers()
      : idle_(CreateEventW(nullptr, TRUE, TRUE, nullptr)), stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  RunningWorkers(const RunningWorkers&) = delete;
  RunningWorkers& operator=(const RunningWorkers&) = delete;

  void add() {
    sysenv::CriticalSectionLock hold(lock_);
    if (count_++ == 0 && idle_) ResetEvent(idle_.get());
  }
  void remove() {
    sysenv::CriticalSectionLock hold(lock_);
    if (--count_ == 0) {
      // In this order: whoever the idle event wakes must find the stop request withdrawn.
      if (stop_) ResetEvent(stop_.get());
      if (idle_) SetEvent(idle_.get());
    }
  }
  // Nothing to stop when no worker runs: a request then would only hold up the next run's jobs.
  void requestStop() {
    sysenv::CriticalSectionLock hold(lock_);
    if (count_ != 0 && stop_) SetEvent(stop_.get());
  }
  HANDLE idleEvent() const { return idle_.get(); }
  HANDLE stopEvent() const { return stop_.get(); }

 private:
  sysenv::CriticalSection lock_;
  long count_ = 0;
  sysenv::UniqueKernelHandle idle_;
  sysenv::UniqueKernelHandle stop_;
};

// Never destroyed: a worker may still finish while the process's static objects go.
RunningWorkers& runningWorkers() {
  static RunningWorkers* workers = new RunningWorkers();
  return *workers;
}

HANDLE createWorkerThread(LPTHREAD_START_ROUTINE routine, void* parameter) {
  return CreateThread(nullptr, 0, routine, parameter, 0, nullptr);
}

// COM for the worker's lifetime, in the multithreaded apartment.
class WorkerApartment {
 public:
  WorkerApartment() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ~WorkerApartment() {
    if (initialized_) CoUninitialize();
  }
  WorkerApartment(const WorkerApartment&) = delete;
  WorkerApartment& operator=(const WorkerApartment&) = delete;

 private:
  bool initialized_;
};

}  // namespace

HRESULT startScriptJob(std::unique_ptr<ScriptJob> job, LPTHREAD_START_ROUTINE routine) {
  return detail::startScriptJobWith(std::move(job), routine, &createWorkerThread);
}

HRESULT detail::startScriptJobWith(std::unique_ptr<ScriptJob> job, LPTHREAD_START_ROUTINE routine,
                                   ThreadCreator createThread) {
  if (job == nullptr || routine == nullptr) return E_POINTER;
  runningWorkers().add();
  sysenv::UniqueKernelHandle thread(createThread(routine, job.get()));
  if (!thread) {
    const DWORD error = GetLastError();
    runningWorkers().remove();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;  // `job` goes with its holdings
  }
  job.release();  // the worker frees it
  return S_OK;
}

DWORD runScriptJob(void* parameter) {
  // Declared first, so counted off last, after every step below.
  struct CountedOff {
    ~CountedOff() { runningWorkers().remove(); }
  } countedOff;
  std::unique_ptr<ScriptJob> job(static_cast<ScriptJob*>(parameter));
  // Declared before the apartment, so released after it is left. This may be the object's last
  // reference.
  Microsoft::WRL::ComPtr<MSHTMLExternal> owner = std::move(job->owner_);
  {
    WorkerApartment apartment;
    job->onWorkerStarted();
    IDispatch* callback = nullptr;
    const HRESULT hr = job->callback_.unmarshal(&callback);
    if (FAILED(hr)) {
      job->onUnmarshalFailed(hr);
    } else {
      job->run(callback);
      callback->Release();
    }
    job.reset();
  }
  return 0;
}

bool waitForScriptJobs(DWORD timeoutMs) {
  HANDLE idle = runningWorkers().idleEvent();
  if (idle == nullptr) return false;
  const DWORD deadline = GetTickCount() + timeoutMs;
  for (;;) {
    const DWORD now = GetTickCount();
    const DWORD left = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
    // A worker's last call into the page may still be on its way to this thread.
    const DWORD wait = MsgWaitForMultipleObjects(1, &idle, FALSE, left, QS_ALLINPUT);
    if (wait == WAIT_OBJECT_0) return true;
    if (wait != WAIT_OBJECT_0 + 1) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

bool finishScriptJobs(DWORD timeoutMs) {
  runningWorkers().requestStop();
  return waitForScriptJobs(timeoutMs);
}

bool scriptJobsStopping() {
  HANDLE stop = runningWorkers().stopEvent();
  return stop != nullptr && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
}

HANDLE scriptJobsStopEvent() { return runningWorkers().stopEvent(); }

}  // namespace htmlui
