#include "htmlui/script_callback_win.h"

#include <objbase.h>

#include <utility>

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
  sysenv::UniqueKernelHandle thread(createThread(routine, job.get()));
  if (!thread) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;  // `job` goes with its holdings
  }
  job.release();  // the worker frees it
  return S_OK;
}

DWORD runScriptJob(void* parameter) {
  std::unique_ptr<ScriptJob> job(static_cast<ScriptJob*>(parameter));
  // Declared first, so released last: after the job is freed and the apartment is left. This may be
  // the object's last reference.
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

}  // namespace htmlui
