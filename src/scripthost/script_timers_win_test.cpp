// Win32 code. The quiet run's script host, the system's JScript engine with the timer object,
// exercised by script text as the pages' workflow uses them.
#include "scripthost/script_timers_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/logger_win.h"
#include "scripthost/script_engine_win.h"
#include "scripthost/script_host_object_win.h"
#include "support/wine_test_support_win.h"

namespace scripthost {
namespace {

// The script's notes, each with the tick count when it was made.
class Recorder final : public ScriptHostObject {
 public:
  Recorder() : ScriptHostObject({L"note"}) {}
  struct Note {
    std::wstring text;
    DWORD tick;
  };
  std::vector<Note> notes;
  std::wstring joined() const {
    std::wstring all;
    for (const Note& note : notes) all += (all.empty() ? L"" : L",") + note.text;
    return all;
  }

 private:
  HRESULT callMethod(std::size_t, const std::vector<const VARIANT*>& arguments, VARIANT*) override {
    std::wstring text;
    if (!textArgument(arguments, 0, text)) return E_INVALIDARG;
    notes.push_back({text, GetTickCount()});
    return S_OK;
  }
};

class ScriptHost : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    engine_ = new ScriptEngine(&logger_);
    ASSERT_TRUE(engine_->ok()) << log();
    timers_ = ScriptTimers::create(&logger_);
    ASSERT_NE(timers_, nullptr);
    ASSERT_TRUE(engine_->addNamedItem(L"timers", timers_));
    ASSERT_TRUE(engine_->addNamedItem(L"recorder", &recorder_));
  }
  void TearDown() override {
    if (timers_ != nullptr) timers_->clearAll();
    delete engine_;
    if (timers_ != nullptr) timers_->Release();
    CoUninitialize();
  }
  bool waitForNotes(std::size_t count, DWORD timeoutMs = 5000) {
    return testsupport::pumpMessagesUntil([&] { return recorder_.notes.size() >= count; }, timeoutMs);
  }
  std::string log() const { return testsupport::readFileBytes(logger_.logPath()); }

  app::Logger logger_;
  Recorder recorder_;  // on the stack: its count is never used to delete it
  ScriptEngine* engine_ = nullptr;
  ScriptTimers* timers_ = nullptr;
};

TEST_F(ScriptHost, TimeoutsFireOnceInTheOrderOfTheirDelaysAndClearedOnesNever) {
  ASSERT_TRUE(engine_->runScript(L"var a = timers.setTimeout(function () { recorder.note('slow'); }, 120);\n"
                                 L"var b = timers.setTimeout(function () { recorder.note('fast'); }, 20);\n"
                                 L"var c = timers.setTimeout(function () { recorder.note('cleared'); }, 60);\n"
                                 L"timers.clearTimeout(c);\n"
                                 L"timers.clearTimeout(12345); timers.clearInterval('no id');\n"
                                 L"recorder.note('ids ' + a + ' ' + b + ' ' + c);",
                                 L"test.js"));
  ASSERT_TRUE(waitForNotes(3));
  // Nothing more comes, whatever the wait.
  testsupport::pumpMessagesUntil([] { return false; }, 300);
  EXPECT_EQ(recorder_.joined(), L"ids 1 2 3,fast,slow");
  EXPECT_EQ(timers_->pendingCount(), 0u);
  EXPECT_EQ(engine_->errorCount(), 0u);
}

TEST_F(ScriptHost, AnIntervalRepeatsUntilItClearsItselfAndATimeoutMaySetTheNext) {
  ASSERT_TRUE(engine_->runScript(L"var n = 0;\n"
                                 L"var poll = timers.setInterval(function () {\n"
                                 L"  n += 1; recorder.note('poll ' + n);\n"
                                 L"  if (n === 3) { timers.clearInterval(poll);\n"
                                 L"    timers.setTimeout(function () { recorder.note('next'); }, 10); }\n"
                                 L"}, 30);",
                                 L"test.js"));
  ASSERT_TRUE(waitForNotes(4));
  testsupport::pumpMessagesUntil([] { return false; }, 200);
  EXPECT_EQ(recorder_.joined(), L"poll 1,poll 2,poll 3,next");
  EXPECT_EQ(timers_->pendingCount(), 0u);
}

TEST_F(ScriptHost, ScriptFailuresAreCountedAndLoggedWithTheirSource) {
  EXPECT_FALSE(engine_->runScript(L"var ok = 1;\nvar broken = ;", L"js\\broken.js"));
  EXPECT_EQ(engine_->errorCount(), 1u);
  EXPECT_NE(log().find("ERROR] Script error in js\\broken.js line 2"), std::string::npos) << log();

  EXPECT_FALSE(engine_->callFunction(L"noSuchFunction", {}));
  EXPECT_EQ(engine_->errorCount(), 2u);

  ASSERT_TRUE(engine_->runScript(L"function f(view) { view.note('called'); }\n"
                                 L"timers.setTimeout(function () { throw new Error('timer broke'); }, 10);",
                                 L"test.js"));
  EXPECT_TRUE(engine_->callFunction(L"f", {&recorder_}));
  EXPECT_EQ(recorder_.joined(), L"called");
  ASSERT_TRUE(testsupport::pumpMessagesUntil([&] { return timers_->failures() == 1; }));
  // The engine reports the exception through its site, with the script's own line.
  EXPECT_NE(log().find("ERROR] Script error in test.js line 2: timer broke"), std::string::npos) << log();
  // A timer function needs to be a function.
  EXPECT_FALSE(engine_->runScript(L"timers.setTimeout('recorder.note(1)', 10);", L"test.js"));
}

}  // namespace
}  // namespace scripthost
