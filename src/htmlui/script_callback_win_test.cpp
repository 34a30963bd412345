// Win32 code. Tests of the script-callback protocol with real apartments. The test's thread is the
// single-threaded UI apartment and pumps messages; the workers are multithreaded-apartment threads
// whose calls reach the page function through COM's cross-apartment channel.
#include "htmlui/script_callback_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "app/logger_win.h"
#include "support/jscript_host_win.h"
#include "support/recording_dispatch_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/unique_handle_win.h"

namespace {

using sysenv::UniqueKernelHandle;

UniqueKernelHandle manualEvent() { return UniqueKernelHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr)); }

// Dispatches the UI thread's messages (the cross-apartment calls arrive as messages) until `event`
// is signalled; false on time-out.
bool pumpUntil(HANDLE event, DWORD timeoutMs = 10000) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    const DWORD woke = MsgWaitForMultipleObjects(1, &event, FALSE, static_cast<DWORD>(deadline - now),
                                                 QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) return true;
  }
}

// S_OK when the calling thread has no COM apartment, S_FALSE when it is already in the
// multithreaded one, RPC_E_CHANGED_MODE in a single-threaded one.
HRESULT probeApartment() {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(hr)) CoUninitialize();
  return hr;
}

// What happened, in which order, on which thread.
struct Trace {
  std::atomic<int> clock{0};
  std::atomic<int> workerStarted{0}, callbackReturned{0}, jobFreed{0}, destroyed{0};
  std::atomic<HRESULT> unmarshalFailure{S_OK};
  std::atomic<bool> ran{false};
  std::atomic<bool> stopSeen{false};
  HRESULT callbackResult = E_FAIL;
  HRESULT workerApartment = E_FAIL;       // probeApartment inside the work
  HRESULT destructorApartment = E_FAIL;   // probeApartment inside the owner's destructor
  DWORD workerThread = 0;
  DWORD destructorThread = 0;
  UniqueKernelHandle gate = manualEvent();  // the work waits for it
  UniqueKernelHandle callbackDone = manualEvent();
  UniqueKernelHandle destroyedEvent = manualEvent();
  int tick() { return ++clock; }
};

class CallbackOwner;

// A job that doubles its value and calls the page back with it.
class DoublingJob final : public htmlui::ScriptJob {
 public:
  DoublingJob(htmlui::MSHTMLExternal* owner, Trace* trace, app::Logger* logger, int value)
      : ScriptJob(owner), trace_(trace), logger_(logger), value_(value) {}
  ~DoublingJob() override { trace_->jobFreed = trace_->tick(); }

 private:
  void onWorkerStarted() override { trace_->workerStarted = trace_->tick(); }
  void onUnmarshalFailed(HRESULT hr) override { trace_->unmarshalFailure = hr; }
  void run(IDispatch* callback) override {
    trace_->ran = true;
    trace_->workerThread = GetCurrentThreadId();
    trace_->workerApartment = probeApartment();
    WaitForSingleObject(trace_->gate.get(), 10000);
    trace_->callbackResult = htmlui::callJscallback(logger_, callback, value_ * 2);
    trace_->callbackReturned = trace_->tick();
    SetEvent(trace_->callbackDone.get());
  }

  Trace* trace_;
  app::Logger* logger_;
  int value_;
};

// The page's view: startJob(value, callback) and threadId().
class CallbackOwner final : public htmlui::MSHTMLExternal {
 public:
  CallbackOwner(Trace* trace, app::Logger* logger) : trace_(trace), logger_(logger) {}
  ~CallbackOwner() override {
    trace_->destructorThread = GetCurrentThreadId();
    trace_->destructorApartment = probeApartment();
    trace_->destroyed = trace_->tick();
    SetEvent(trace_->destroyedEvent.get());
  }
  void OnDocumentComplete(htmlui::MSHTMLClient*) override {}
  UINT GetMethodTable(const htmlui::MethodEntry** table) override {
    static const htmlui::MethodEntry kTable[] = {
        {L"startJob", static_cast<htmlui::MethodHandler>(&CallbackOwner::startJob)},
        {L"threadId", static_cast<htmlui::MethodHandler>(&CallbackOwner::threadId)},
    };
    *table = kTable;
    return 2;
  }

  // What a command does: make the job, marshal the function, start the worker.
  HRESULT start(int value, IDispatch* function) {
    auto job = std::make_unique<DoublingJob>(this, trace_, logger_, value);
    const HRESULT hr = job->marshalCallback(function);
    if (FAILED(hr)) return hr;
    return htmlui::startScriptJob(std::move(job), &DoublingThreadFunc);
  }

 private:
  static DWORD WINAPI DoublingThreadFunc(LPVOID job) { return htmlui::runScriptJob(job); }

  HRESULT startJob(WORD, DISPPARAMS* params, VARIANT*) {
    if (params->cArgs != 2 || params->rgvarg[1].vt != VT_I4 || params->rgvarg[0].vt != VT_DISPATCH) {
      return DISP_E_TYPEMISMATCH;
    }
    return start(params->rgvarg[1].lVal, params->rgvarg[0].pdispVal);
  }
  HRESULT threadId(WORD, DISPPARAMS*, VARIANT* result) {
    if (result != nullptr) {
      result->vt = VT_I4;
      result->lVal = static_cast<LONG>(GetCurrentThreadId());
    }
    return S_OK;
  }

  Trace* trace_;
  app::Logger* logger_;
};

DWORD WINAPI runJob(LPVOID job) { return htmlui::runScriptJob(job); }
DWORD WINAPI neverRuns(LPVOID) { return 0; }

LONG referencesOf(IUnknown* object) {
  object->AddRef();
  return static_cast<LONG>(object->Release());
}

class ScriptCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  // A worker may still hold the owner: wait for its last step, which uses the trace.
  void TearDown() override {
    if (owner_ != nullptr) owner_->Release();
    EXPECT_TRUE(pumpUntil(trace_.destroyedEvent.get()));
    CoUninitialize();
  }
  std::string logText() { return testsupport::readFileBytes(logger_.logPath()); }

  Trace trace_;
  app::Logger logger_;
  CallbackOwner* owner_ = new CallbackOwner(&trace_, &logger_);
};

TEST_F(ScriptCallbackTest, CallJscallbackCallsTheDefaultMemberWithOneInteger) {
  testsupport::RecordingDispatch function;
  EXPECT_EQ(htmlui::callJscallback(&logger_, &function, -7), S_OK);
  ASSERT_EQ(function.calls.size(), 1u);
  const auto& call = function.calls[0];
  EXPECT_EQ(call.dispid, DISPID_VALUE);
  EXPECT_TRUE(call.iidIsNull);
  EXPECT_EQ(call.lcid, 0u);
  EXPECT_EQ(call.flags, DISPATCH_METHOD);
  ASSERT_EQ(call.arguments.size(), 1u);
  EXPECT_EQ(call.arguments[0].vt, VT_I4);
  EXPECT_EQ(call.arguments[0].lVal, -7);
  EXPECT_EQ(call.namedCount, 0u);
  EXPECT_TRUE(call.namedArrayIsNull);
  EXPECT_TRUE(call.resultIsNull && call.excepinfoIsNull && call.argErrIsNull);
  const std::string log = logText();
  const size_t announced = log.find("DEBUG] call js callback.\r\n");
  EXPECT_NE(announced, std::string::npos) << log;
  EXPECT_GT(log.find("DEBUG] callJscallback return 0.\r\n"), announced) << log;
}

TEST_F(ScriptCallbackTest, PageFunctionIsCalledBackOnTheUiThreadFromAnMtaWorker) {
  testsupport::JScriptHost host;
  ASSERT_TRUE(host.ok());
  ASSERT_EQ(host.addNamedItem(L"external", static_cast<IDispatchEx*>(owner_)), S_OK);
  SetEvent(trace_.gate.get());
  ASSERT_EQ(host.run(L"var got, kind, where;"
                     L"external.startJob(21, function (v) { got = v; kind = typeof v; where = external.threadId(); });"),
            S_OK);
  ASSERT_TRUE(pumpUntil(trace_.callbackDone.get()));
  EXPECT_EQ(trace_.callbackResult, S_OK);
  EXPECT_EQ(trace_.workerApartment, S_FALSE);  // the worker was already in the MTA
  EXPECT_NE(trace_.workerThread, GetCurrentThreadId());

  VARIANT value;
  ASSERT_EQ(host.evaluate(L"got", &value), S_OK);
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 42);
  ASSERT_EQ(host.evaluate(L"kind", &value), S_OK);
  EXPECT_STREQ(value.bstrVal, L"number");
  VariantClear(&value);
  ASSERT_EQ(host.evaluate(L"where", &value), S_OK);
  EXPECT_EQ(static_cast<DWORD>(value.lVal), GetCurrentThreadId());
}

TEST_F(ScriptCallbackTest, AThrowingPageFunctionOnlyMakesTheCallbackFail) {
  testsupport::JScriptHost host;
  ASSERT_TRUE(host.ok());
  ASSERT_EQ(host.addNamedItem(L"external", static_cast<IDispatchEx*>(owner_)), S_OK);
  SetEvent(trace_.gate.get());
  ASSERT_EQ(host.run(L"external.startJob(1, function (v) { throw new Error('page failed'); });"), S_OK);
  ASSERT_TRUE(pumpUntil(trace_.callbackDone.get()));
  EXPECT_TRUE(FAILED(trace_.callbackResult)) << std::hex << trace_.callbackResult;
  char expected[64];
  std::snprintf(expected, sizeof expected, "DEBUG] callJscallback return %x.\r\n",
                static_cast<unsigned>(trace_.callbackResult));
  EXPECT_NE(logText().find(expected), std::string::npos) << logText();
}

TEST_F(ScriptCallbackTest, ObjectOutlivesItsCreatorUntilTheWorkersLastStep) {
  testsupport::RecordingDispatch function;
  ASSERT_EQ(owner_->start(5, &function), S_OK);
  // The creator lets go while the worker is busy, as the start-up sequence does when the page closes
  // the window from within the callback.
  owner_->Release();
  owner_ = nullptr;
  ASSERT_NE(WaitForSingleObject(trace_.destroyedEvent.get(), 50), WAIT_OBJECT_0);
  EXPECT_EQ(trace_.destroyed, 0);

  SetEvent(trace_.gate.get());
  ASSERT_TRUE(pumpUntil(trace_.destroyedEvent.get()));
  ASSERT_EQ(function.calls.size(), 1u);
  EXPECT_EQ(function.calls[0].arguments[0].lVal, 10);
  EXPECT_EQ(function.calls[0].threadId, GetCurrentThreadId());
  EXPECT_LT(trace_.workerStarted, trace_.callbackReturned);
  EXPECT_LT(trace_.callbackReturned, trace_.jobFreed);
  EXPECT_LT(trace_.jobFreed, trace_.destroyed);
  EXPECT_EQ(trace_.destructorThread, trace_.workerThread);
  EXPECT_EQ(trace_.destructorApartment, S_OK);  // the worker had left its apartment
  // The worker's proxy and the marshal data are gone: only the test's own reference is left.
  EXPECT_EQ(function.references(), 1);
}

TEST_F(ScriptCallbackTest, WaitingForTheJobsEndsOnlyAfterTheWorkersLastStep) {
  testsupport::RecordingDispatch function;
  ASSERT_EQ(owner_->start(4, &function), S_OK);
  owner_->Release();
  owner_ = nullptr;
  // Busy: the wait gives up.
  EXPECT_FALSE(htmlui::waitForScriptJobs(100));

  SetEvent(trace_.gate.get());
  // The callback reaches this thread while it waits, and the wait ends once the object is gone.
  EXPECT_TRUE(htmlui::waitForScriptJobs(10000));
  EXPECT_GT(trace_.destroyed, 0);
  ASSERT_EQ(function.calls.size(), 1u);
  // With nothing running it returns at once; a failed start leaves nothing to wait for.
  EXPECT_TRUE(htmlui::waitForScriptJobs(0));
  auto* other = new CallbackOwner(&trace_, &logger_);
  auto job = std::make_unique<DoublingJob>(other, &trace_, &logger_, 1);
  other->Release();  // the job's reference is the only one
  EXPECT_TRUE(FAILED(htmlui::detail::startScriptJobWith(std::move(job), &neverRuns,
                                                        [](LPTHREAD_START_ROUTINE, void*) -> HANDLE { return nullptr; })));
  EXPECT_TRUE(htmlui::waitForScriptJobs(0));
}

// A job that works until the run ends: it waits for the stop request, as a transfer does.
class StoppableJob final : public htmlui::ScriptJob {
 public:
  StoppableJob(htmlui::MSHTMLExternal* owner, Trace* trace) : ScriptJob(owner), trace_(trace) {}

 private:
  void run(IDispatch*) override {
    trace_->ran = true;
    SetEvent(trace_->callbackDone.get());
    trace_->stopSeen = WaitForSingleObject(htmlui::scriptJobsStopEvent(), 10000) == WAIT_OBJECT_0 &&
                       htmlui::scriptJobsStopping();
  }

  Trace* trace_;
};

DWORD WINAPI runStoppableJob(LPVOID job) { return htmlui::runScriptJob(job); }

TEST_F(ScriptCallbackTest, FinishingTheJobsStopsThemAndLaterJobsRunAsBefore) {
  // Nothing running: nothing to stop, and no request left behind for the next jobs.
  EXPECT_TRUE(htmlui::finishScriptJobs(0));
  EXPECT_FALSE(htmlui::scriptJobsStopping());

  testsupport::RecordingDispatch function;
  auto job = std::make_unique<StoppableJob>(owner_, &trace_);
  ASSERT_EQ(job->marshalCallback(&function), S_OK);
  ASSERT_EQ(htmlui::startScriptJob(std::move(job), &runStoppableJob), S_OK);
  ASSERT_TRUE(pumpUntil(trace_.callbackDone.get()));
  EXPECT_FALSE(htmlui::scriptJobsStopping());
  EXPECT_FALSE(htmlui::waitForScriptJobs(100));

  // The end of the pages: the job is told, ends, and the wait sees its last step.
  EXPECT_TRUE(htmlui::finishScriptJobs(10000));
  EXPECT_TRUE(trace_.stopSeen);
  EXPECT_FALSE(htmlui::scriptJobsStopping());
  EXPECT_EQ(function.references(), 1);

  // A job after that runs and calls back as any other.
  ResetEvent(trace_.callbackDone.get());
  SetEvent(trace_.gate.get());
  ASSERT_EQ(owner_->start(6, &function), S_OK);
  ASSERT_TRUE(pumpUntil(trace_.callbackDone.get()));
  EXPECT_TRUE(htmlui::finishScriptJobs(10000));
  ASSERT_EQ(function.calls.size(), 1u);
  EXPECT_EQ(function.calls[0].arguments[0].lVal, 12);
}

TEST_F(ScriptCallbackTest, ThreadCreationFailureReleasesEverythingTheJobHeld) {
  testsupport::RecordingDispatch function;
  auto job = std::make_unique<DoublingJob>(owner_, &trace_, &logger_, 1);
  EXPECT_EQ(referencesOf(owner_), 2);  // the job's reference
  ASSERT_EQ(job->marshalCallback(&function), S_OK);
  EXPECT_GT(function.references(), 1);  // the marshal data holds the function
  const HRESULT hr = htmlui::detail::startScriptJobWith(
      std::move(job), &neverRuns, [](LPTHREAD_START_ROUTINE, void*) -> HANDLE {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
      });
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(function.references(), 1);
  EXPECT_EQ(referencesOf(owner_), 1);
  EXPECT_FALSE(trace_.ran);
  EXPECT_GT(trace_.jobFreed, 0);
}

TEST_F(ScriptCallbackTest, MarshallingFailureLeavesNothingHeld) {
  testsupport::RecordingDispatch notADispatch(S_OK, /*offerIDispatch=*/false);
  EXPECT_TRUE(FAILED(owner_->start(1, &notADispatch)));
  EXPECT_EQ(notADispatch.references(), 1);
  EXPECT_EQ(referencesOf(owner_), 1);
  EXPECT_FALSE(trace_.ran);

  htmlui::MarshalledFunction nothing;
  EXPECT_EQ(nothing.marshal(nullptr), E_POINTER);
  EXPECT_FALSE(nothing.marshalled());
}

TEST_F(ScriptCallbackTest, UnmarshalFailureSkipsTheWorkAndTheCallback) {
  // A job whose function was never marshalled: its worker cannot unmarshal anything.
  auto job = std::make_unique<DoublingJob>(owner_, &trace_, &logger_, 1);
  ASSERT_EQ(htmlui::startScriptJob(std::move(job), &runJob), S_OK);
  owner_->Release();
  owner_ = nullptr;
  ASSERT_TRUE(pumpUntil(trace_.destroyedEvent.get()));
  EXPECT_EQ(trace_.unmarshalFailure, E_UNEXPECTED);
  EXPECT_FALSE(trace_.ran);
  EXPECT_LT(trace_.workerStarted, trace_.jobFreed);
  EXPECT_LT(trace_.jobFreed, trace_.destroyed);
}

}  // namespace
