// Win32 code. What a page script can reach through the quiet run's engine: its host objects, and no
// object of its own making. Driven through the real JScript engine, with the same script run once
// in an engine that was not told to use a security manager, to show what the refusal prevents.
#include "scripthost/script_engine_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/logger_win.h"
#include "scripthost/script_host_object_win.h"
#include "support/jscript_host_win.h"
#include "support/wine_test_support_win.h"

namespace scripthost {
namespace {

// A host object that keeps what the script tells it.
class Recorder final : public ScriptHostObject {
 public:
  Recorder() : ScriptHostObject({L"note"}) {}
  std::wstring notes;

 private:
  HRESULT callMethod(std::size_t, const std::vector<const VARIANT*>& arguments, VARIANT*) override {
    std::wstring text;
    if (!textArgument(arguments, 0, text)) return E_INVALIDARG;
    notes += (notes.empty() ? L"" : L",") + text;
    return S_OK;
  }
};

std::wstring scriptString(const std::wstring& text) {
  std::wstring quoted = L"'";
  for (wchar_t c : text) {
    if (c == L'\\' || c == L'\'') quoted += L'\\';
    quoted += c;
  }
  return quoted + L"'";
}

// Tries each way a script makes an object, each one writing a file of its own when it gets through,
// and notes which were refused.
std::wstring objectMakingScript(const testsupport::ScratchFolder& scratch) {
  return L"function attempt(name, make) {\n"
         L"  try { make(); recorder.note(name + ' made'); } catch (e) { recorder.note(name + ' refused'); }\n"
         L"}\n"
         L"attempt('fso', function () {\n"
         L"  new ActiveXObject('Scripting.FileSystemObject').CreateTextFile(" +
         scriptString(scratch.file(L"fso.txt")) +
         L").Close();\n"
         L"});\n"
         L"attempt('shell', function () {\n"
         L"  new ActiveXObject('WScript.Shell').Run(" +
         scriptString(L"cmd.exe /c echo x>\"" + scratch.file(L"shell.txt") + L"\"") +
         L", 0, true);\n"
         L"});\n"
         L"attempt('getobject', function () { GetObject('', 'Scripting.FileSystemObject'); });\n";
}

class ScriptEngineSafety : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
  std::string log() const { return testsupport::readFileBytes(logger_.logPath()); }

  app::Logger logger_;
  testsupport::ScratchFolder scratch_;
};

TEST_F(ScriptEngineSafety, ScriptsMakeNoObjectsYetReachTheirHostObjects) {
  // Without a security manager the engine makes the objects: the files appear.
  {
    Recorder recorder;
    testsupport::JScriptHost unguarded;
    ASSERT_TRUE(unguarded.ok());
    ASSERT_EQ(unguarded.addNamedItem(L"recorder", &recorder), S_OK);
    ASSERT_EQ(unguarded.run(objectMakingScript(scratch_)), S_OK);
    EXPECT_NE(recorder.notes.find(L"fso made"), std::wstring::npos) << recorder.notes;
    ASSERT_TRUE(testsupport::pathExists(scratch_.file(L"fso.txt")));
    DeleteFileW(scratch_.file(L"fso.txt").c_str());
    DeleteFileW(scratch_.file(L"shell.txt").c_str());
  }

  Recorder recorder;
  ScriptEngine engine(&logger_);
  ASSERT_TRUE(engine.ok()) << log();
  ASSERT_TRUE(engine.addNamedItem(L"recorder", &recorder));
  ASSERT_TRUE(engine.runScript(objectMakingScript(scratch_), L"page.js")) << log();
  EXPECT_EQ(recorder.notes, L"fso refused,shell refused,getobject refused");
  EXPECT_FALSE(testsupport::pathExists(scratch_.file(L"fso.txt")));
  EXPECT_FALSE(testsupport::pathExists(scratch_.file(L"shell.txt")));

  // An uncaught attempt is a script error like any other, and the engine goes on running scripts.
  EXPECT_FALSE(engine.runScript(L"new ActiveXObject('Scripting.FileSystemObject');", L"page.js"));
  EXPECT_EQ(engine.errorCount(), 1u);
  ASSERT_TRUE(engine.runScript(L"recorder.note('still running');", L"page.js"));
  EXPECT_EQ(recorder.notes, L"fso refused,shell refused,getobject refused,still running");
}

}  // namespace
}  // namespace scripthost
