// Win32 code. The script API driven from the real JScript engine: argument checks, recorded state with its log
// lines (read from the real log file), the two jobs with chosen results from their workers, the
// desktop shell hand-off, and the window rules on real windows.
#include "downloadmanagercore/html_external_win.h"

#include <gtest/gtest.h>
#include <olectl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "htmlui/host_window_win.h"
#include "support/fake_html_document_win.h"
#include "support/jscript_host_win.h"
#include "support/recording_dispatch_win.h"
#include "support/wine_test_support_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/unique_handle_win.h"

namespace downloadmanagercore {

struct HtmlExternalTestAccess {
  static void setDownloadPath(HtmlExternal& object, const std::wstring& path) { object.downloadPath_ = path; }
  static const std::wstring& startProgramPath(HtmlExternal& object) { return object.startProgramPath_; }
  static void setThreadCreator(HtmlExternal& object, htmlui::detail::ThreadCreator creator) {
    object.threadCreator_ = creator;
  }
};

namespace {

using Access = HtmlExternalTestAccess;

// The real object with chosen results from the workers' operations (the engine is tested elsewhere).
class ScriptedExternal final : public HtmlExternal {
 public:
  ScriptedExternal(app::InstallProperties* record, app::Logger* logger, HANDLE destroyed)
      : HtmlExternal(record, nullptr, logger), destroyed_(destroyed) {}
  ~ScriptedExternal() override { SetEvent(destroyed_); }

  std::int32_t DownloadPackage(const std::wstring& url) override {
    WaitForSingleObject(gate.get(), 10000);
    urls.push_back(url);
    return downloadResult;
  }
  std::int32_t InstallPackage(const std::wstring& package, const std::wstring& arguments) override {
    installs.push_back(package + L"|" + arguments);
    return installResult;
  }
  bool GetInstalledStartProgram(std::wstring& path) override {
    path = startProgram;
    return !startProgram.empty();
  }

  sysenv::UniqueKernelHandle gate{CreateEventW(nullptr, TRUE, TRUE, nullptr)};  // downloads wait for it
  std::int32_t downloadResult = 0;
  std::int32_t installResult = 0;
  std::wstring startProgram;
  std::vector<std::wstring> urls;      // written by workers, read after their callbacks
  std::vector<std::wstring> installs;  // "package|arguments"

 private:
  HANDLE destroyed_;
};

using testsupport::pumpMessagesUntil;

class HtmlExternalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    external_ = new ScriptedExternal(&record_, &logger_, destroyed_.get());
    host_ = std::make_unique<testsupport::JScriptHost>();
    ASSERT_TRUE(host_->ok());
    ASSERT_EQ(host_->addNamedItem(L"external", static_cast<IDispatchEx*>(external_)), S_OK);
  }
  // A worker holds the object until its last step, which still uses the logger: wait for it.
  void TearDown() override {
    host_.reset();
    external_->Release();
    EXPECT_TRUE(pumpMessagesUntil([&] { return WaitForSingleObject(destroyed_.get(), 0) == WAIT_OBJECT_0; }));
    CoUninitialize();
  }

  // Runs statements in the page: 0, or the number of the exception they threw.
  HRESULT call(const std::wstring& statements) {
    VARIANT number;
    const std::wstring wrapped =
        L"(function () { try { " + statements + L"; return 0; } catch (e) { return e.number; } })()";
    EXPECT_EQ(host_->evaluate(wrapped, &number), S_OK);
    return number.lVal;
  }
  VARIANT evaluate(const std::wstring& expression) {
    VARIANT value;
    EXPECT_EQ(host_->evaluate(expression, &value), S_OK) << expression;
    return value;
  }
  std::wstring text(const std::wstring& expression) {
    VARIANT value = evaluate(expression);
    std::wstring result = value.vt == VT_BSTR ? std::wstring(value.bstrVal, SysStringLen(value.bstrVal)) : L"?";
    VariantClear(&value);
    return result;
  }
  // Pumps until the page's callback has set the global `name`, then returns its value.
  int callbackResult(const std::wstring& name) {
    EXPECT_TRUE(pumpMessagesUntil([&] { return evaluate(L"typeof " + name + L" == 'number'").boolVal == VARIANT_TRUE; }))
        << name;
    return evaluate(name).lVal;
  }
  std::string log() { return testsupport::readFileBytes(logger_.logPath()); }
  // Where the line is in the log ("DEBUG] text"), or npos.
  size_t lineAt(const std::string& levelAndText) { return log().find(levelAndText + "\r\n"); }

  app::Logger logger_;
  app::InstallProperties record_{u"KRV", u"1.0.20.1", app::RunEnvironment{}};
  sysenv::UniqueKernelHandle destroyed_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  ScriptedExternal* external_ = nullptr;
  std::unique_ptr<testsupport::JScriptHost> host_;
};

TEST_F(HtmlExternalTest, FailedChecksRefuseTheCallWithoutActingOrLogging) {
  const std::pair<const wchar_t*, HRESULT> cases[] = {
      {L"external.download('http://127.0.0.1/p.zip')", DISP_E_BADPARAMCOUNT},
      {L"external.download(5, function () {})", DISP_E_TYPEMISMATCH},
      {L"external.install('a=b', 'not a function')", DISP_E_TYPEMISMATCH},
      {L"external.setInstallStatus(5)", STG_E_INVALIDPARAMETER},
      {L"external.setInstallStatus(-1)", STG_E_INVALIDPARAMETER},
      {L"external.setInstallStatus('1')", DISP_E_TYPEMISMATCH},
      {L"external.retryMessageBox('Retry?')", DISP_E_MEMBERNOTFOUND},  // a statement shows no box
      {L"external.getProperty('osbits')", DISP_E_MEMBERNOTFOUND},
      {L"external.setWindowSize(651)", DISP_E_BADPARAMCOUNT},
      {L"external.disableCloseWindow(1)", DISP_E_TYPEMISMATCH},
      {L"external.manageShortcut('Sorvane.lnk', 1)", DISP_E_TYPEMISMATCH},
      {L"external.messageBox('text')", DISP_E_BADPARAMCOUNT},
      {L"external.dragWindow(1)", DISP_E_BADPARAMCOUNT},
  };
  for (const auto& [statement, expected] : cases) EXPECT_EQ(call(statement), expected) << statement;
  // A call whose value is used: Wine's JScript adds the get flag only when there are arguments, so
  // `var x = external.closeWindow()` is made here as Windows' engine makes it.
  VARIANT value;
  VariantInit(&value);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  constexpr DISPID kCloseWindow = 2;
  EXPECT_EQ(external_->Invoke(kCloseWindow, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &value,
                              nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(record_.status, app::kStatusEnvironmentNotSupported);
  EXPECT_FALSE(external_->closeDisabled());
  EXPECT_TRUE(external_->urls.empty());
  EXPECT_EQ(log().find("QJ"), std::string::npos) << log();
}

TEST_F(HtmlExternalTest, CommandsRecordTheirStateAndLogIt) {
  const std::wstring shortcut = sysenv::desktopShortcutPath(L"Sorvane API test.lnk");
  ASSERT_EQ(call(L"external.setInstallStatus(2); external.setChannel('beta'); external.disableCloseWindow(true);"
                 L"external.manageShortcut('Sorvane API test.lnk', true)"),
            S_OK);
  EXPECT_EQ(record_.status, 2);
  EXPECT_EQ(record_.channelId, u"beta");
  EXPECT_TRUE(external_->closeDisabled());
  EXPECT_TRUE(testsupport::pathExists(shortcut));
  ASSERT_EQ(call(L"external.disableCloseWindow(false); external.manageShortcut('Sorvane API test.lnk', false)"), S_OK);
  EXPECT_FALSE(external_->closeDisabled());
  EXPECT_FALSE(testsupport::pathExists(shortcut));
  for (const char* line : {"QJSetInstallStatus: 2", "QJSetChannel: beta", "QJDisableWindowClose: -1",
                           "QJManageShortcut: Sorvane API test.lnk,  1", "QJDisableWindowClose: 0",
                           "QJManageShortcut: Sorvane API test.lnk,  0"}) {
    EXPECT_NE(lineAt(std::string("DEBUG] ") + line), std::string::npos) << line << "\n" << log();
  }
}

TEST_F(HtmlExternalTest, ManageShortcutTakesOnlyABareLnkNameAndLogsTheRest) {
  const std::wstring desktop = sysenv::desktopShortcutPath(L"x.lnk");
  const std::wstring beside = desktop.substr(0, desktop.rfind(L'\\', desktop.rfind(L'\\') - 1)) +
                              L"\\Sorvane API test.lnk";
  ASSERT_EQ(call(L"external.manageShortcut('..\\\\Sorvane API test.lnk', true);"
                 L"external.manageShortcut('Sorvane API test.exe', true)"),
            S_OK);
  EXPECT_FALSE(testsupport::pathExists(beside));
  EXPECT_FALSE(testsupport::pathExists(sysenv::desktopShortcutPath(L"Sorvane API test.exe")));
  for (const char* line : {"ERROR] QJManageShortcut: not a bare .lnk file name, ignored: ..\\Sorvane API test.lnk",
                           "DEBUG] QJManageShortcut: ..\\Sorvane API test.lnk,  1",
                           "ERROR] QJManageShortcut: not a bare .lnk file name, ignored: Sorvane API test.exe",
                           "DEBUG] QJManageShortcut: Sorvane API test.exe,  1"}) {
    EXPECT_NE(lineAt(line), std::string::npos) << line << "\n" << log();
  }
}

TEST_F(HtmlExternalTest, GetPropertyCreatesMissingKeysAndKeepsEveryCharacter) {
  EXPECT_EQ(text(L"external.getProperty('downloadTotal')"), L"1");
  EXPECT_EQ(text(L"external.getProperty('never set')"), L"");
  ASSERT_EQ(record_.properties.count(u"never set"), 1u);
  EXPECT_EQ(record_.properties[u"never set"], u"");
  external_->setProperty(L"with nul", std::wstring(L"a\0b", 3));
  EXPECT_EQ(text(L"external.getProperty('with nul')"), std::wstring(L"a\0b", 3));
}

TEST_F(HtmlExternalTest, FailedDownloadIsRecordedLoggedAndCalledBack) {
  external_->downloadResult = 3;  // disk full
  Access::setDownloadPath(*external_, L"C:\\work\\p.zip");
  ASSERT_EQ(call(L"external.download('http://127.0.0.1/p.zip?a=1', function (r) { got = r; })"), S_OK);
  EXPECT_EQ(callbackResult(L"got"), 3);
  EXPECT_EQ(record_.wrapperError, 1);
  EXPECT_EQ(record_.msiError, 3);
  EXPECT_EQ(external_->urls, std::vector<std::wstring>{L"http://127.0.0.1/p.zip?a=1"});
  const size_t announced = lineAt("DEBUG] QJDownload: http://127.0.0.1/p.zip?a=1");
  const size_t started = lineAt("DEBUG] DownloadThreadFunc");
  const size_t failed = lineAt("ERROR] Download fail, download path : C:\\work\\p.zip, download result : 3");
  EXPECT_LT(announced, started) << log();
  EXPECT_LT(started, failed) << log();
  EXPECT_LT(failed, lineAt("DEBUG] call js callback.")) << log();
}

TEST_F(HtmlExternalTest, InstallResultDecidesWhatIsRecorded) {
  Access::setDownloadPath(*external_, L"C:\\work\\p.zip");
  struct Case {
    std::int32_t result;
    const wchar_t* startProgram;
    std::int32_t wrapperError, msiError;  // before each run: 7, 7
  };
  const Case cases[] = {
      {2, L"", 7, 7},                          // cancelled by the user: nothing recorded
      {4, L"", 2, 4},                          // another installation running
      {0, L"", 3, 0},                          // installed, but no program to start
      {0, L"C:\\Sorvane\\sorvane.exe", 7, 7},  // installed
  };
  for (const Case& c : cases) {
    external_->recordError(7, 7);
    external_->installResult = c.result;
    external_->startProgram = c.startProgram;
    ASSERT_EQ(call(L"got = undefined; external.install('a=b', function (r) { got = r; })"), S_OK);
    EXPECT_EQ(callbackResult(L"got"), c.result);
    EXPECT_EQ(record_.wrapperError, c.wrapperError) << c.result << " " << c.startProgram;
    EXPECT_EQ(record_.msiError, c.msiError) << c.result << " " << c.startProgram;
  }
  EXPECT_EQ(Access::startProgramPath(*external_), L"C:\\Sorvane\\sorvane.exe");
  // The pass-through text is empty, the blank before the page's parameters stays.
  EXPECT_EQ(external_->installs.front(), L"C:\\work\\p.zip| a=b");
  const std::string text = log();
  EXPECT_NE(text.find("DEBUG] QJInstall: a=b\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("DEBUG] InstallThreadFunc\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("ERROR] GetInstalledStartProgram failed\r\n"),
            text.rfind("ERROR] GetInstalledStartProgram failed\r\n"));
  EXPECT_NE(text.find("ERROR] GetInstalledStartProgram failed\r\n"), std::string::npos);
}

TEST_F(HtmlExternalTest, ASecondDownloadIsRefusedWhileOneRunsAndAllowedFromItsCallback) {
  ResetEvent(external_->gate.get());
  ASSERT_EQ(call(L"external.download('u1', function (r) {"
                 L"  try { external.download('u3', function (r) { third = r; }); again = 0; }"
                 L"  catch (e) { again = e.number; } })"),
            S_OK);
  EXPECT_EQ(call(L"external.download('u2', function () {})"), HRESULT_FROM_WIN32(ERROR_BUSY));
  EXPECT_NE(lineAt("ERROR] QJDownload: a download is already running"), std::string::npos) << log();
  SetEvent(external_->gate.get());
  EXPECT_EQ(callbackResult(L"third"), 0);
  EXPECT_EQ(callbackResult(L"again"), 0);
  EXPECT_EQ(external_->urls, (std::vector<std::wstring>{L"u1", L"u3"}));
}

TEST_F(HtmlExternalTest, AJobThatCannotStartFailsTheCallAndLeavesItsKindFree) {
  Access::setThreadCreator(*external_, [](LPTHREAD_START_ROUTINE, void*) -> HANDLE {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  });
  EXPECT_EQ(call(L"external.download('u1', function () {})"), HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(call(L"external.install('a=b', function () {})"), HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_NE(lineAt("ERROR] QJDownload: CreateThread failed with 80070008"), std::string::npos) << log();
  EXPECT_NE(lineAt("ERROR] QJInstall: CreateThread failed with 80070008"), std::string::npos) << log();
  Access::setThreadCreator(*external_, nullptr);

  // A callback that cannot be marshalled (it will not be an IDispatch), called as the engine would.
  testsupport::RecordingDispatch notMarshallable(S_OK, /*offerIDispatch=*/false);
  VARIANT arguments[2];
  arguments[0].vt = VT_DISPATCH;
  arguments[0].pdispVal = &notMarshallable;
  arguments[1].vt = VT_BSTR;
  arguments[1].bstrVal = SysAllocString(L"u2");
  DISPPARAMS params = {arguments, nullptr, 2, 0};
  constexpr DISPID kDownload = 3;
  EXPECT_TRUE(FAILED(external_->Invoke(kDownload, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr)));
  SysFreeString(arguments[1].bstrVal);
  EXPECT_NE(log().find("ERROR] QJDownload: CoMarshalInterThreadInterfaceInStream failed with 8"), std::string::npos);

  ASSERT_EQ(call(L"external.download('u3', function (r) { got = r; })"), S_OK);
  EXPECT_EQ(callbackResult(L"got"), 0);
  EXPECT_EQ(external_->urls, std::vector<std::wstring>{L"u3"});
}

// Started by the desktop shell for the test URL scheme below: writes the URL it was given (the last
// argument) to the file named before it.
TEST(OpenPageChild, DISABLED_RecordUrl) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  ASSERT_GE(count, 3);
  const std::wstring report = arguments[count - 2];
  const std::string url = sysenv::toUtf8(arguments[count - 1]);
  LocalFree(arguments);
  ASSERT_TRUE(testsupport::writeFileBytes(report, url));
}

// Points the shell's handler of a URL scheme at this program in child mode (writing to `report`) until
// destroyed, then puts back what was there: what the shell received then shows.
class ScopedSchemeHandler {
 public:
  ScopedSchemeHandler(const std::wstring& scheme, const std::wstring& report)
      : command_(scheme + L"\\shell\\open\\command") {
    wchar_t old[1024] = {};
    DWORD size = sizeof old;
    hadOld_ = SHGetValueW(HKEY_CLASSES_ROOT, command_.c_str(), nullptr, nullptr, old, &size) == ERROR_SUCCESS;
    if (hadOld_) {
      old_ = old;
    } else {
      SHSetValueW(HKEY_CLASSES_ROOT, scheme.c_str(), L"URL Protocol", REG_SZ, L"", sizeof(wchar_t));
    }
    scheme_ = scheme;
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    set(testsupport::quoted(self) + L" --gtest_also_run_disabled_tests --gtest_filter=OpenPageChild.* " +
        testsupport::quoted(report) + L" \"%1\"");
  }
  ~ScopedSchemeHandler() {
    if (hadOld_) {
      set(old_);
    } else {
      SHDeleteKeyW(HKEY_CLASSES_ROOT, scheme_.c_str());
    }
  }

 private:
  void set(const std::wstring& command) {
    SHSetValueW(HKEY_CLASSES_ROOT, command_.c_str(), nullptr, REG_SZ, command.c_str(),
                static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
  }
  std::wstring command_, scheme_, old_;
  bool hadOld_ = false;
};

TEST_F(HtmlExternalTest, OpenPageHandsTheShellOnlyWebPagesWithEscapedAmpersandsAndLogsTheUrlUnchanged) {
  testsupport::ScratchFolder scratch;
  const std::wstring webReport = scratch.file(L"http.txt");
  const std::wstring otherReport = scratch.file(L"other.txt");
  ScopedSchemeHandler http(L"http", webReport);
  ScopedSchemeHandler other(L"sorvane-api-test", otherReport);

  // Anything but a web page is logged and ignored, with the command's result and line unchanged.
  for (const wchar_t* refused : {L"sorvane-api-test:thanks", L"C:\\\\Windows\\\\System32\\\\cmd.exe",
                                 L"http://x/\\\" --new-window"}) {
    ASSERT_EQ(call(L"external.openPage('" + std::wstring(refused) + L"')"), S_OK) << refused;
  }
  ASSERT_EQ(call(L"external.openPage('http://127.0.0.1:1/thanks?a=1&b=2')"), S_OK);
  // The file exists for a moment before the child has written to it.
  EXPECT_TRUE(pumpMessagesUntil([&] { return !testsupport::readFileBytes(webReport).empty(); }));
  EXPECT_EQ(testsupport::readFileBytes(webReport), "http://127.0.0.1:1/thanks?a=1^&b=2");
  // The shell starts handlers in the order it is asked: a refused URL would have arrived first.
  EXPECT_FALSE(testsupport::pathExists(otherReport));
  EXPECT_NE(lineAt("DEBUG] QJOpenPage: http://127.0.0.1:1/thanks?a=1&b=2"), std::string::npos) << log();
  EXPECT_NE(lineAt("ERROR] QJOpenPage: not an http or https URL, not opened: sorvane-api-test:thanks"),
            std::string::npos)
      << log();
  EXPECT_NE(lineAt("DEBUG] QJOpenPage: sorvane-api-test:thanks"), std::string::npos) << log();
  EXPECT_NE(lineAt("ERROR] QJOpenPage: not an http or https URL, not opened: C:\\Windows\\System32\\cmd.exe"),
            std::string::npos)
      << log();
}

class HtmlExternalWindowTest : public HtmlExternalTest {
 protected:
  // Borderless and 0 x 0, as the host window starts; hidden, so that it goes quickly.
  static HWND makeWindow() {
    return CreateWindowExW(WS_EX_APPWINDOW, L"STATIC", nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                           nullptr);
  }
  // Whether the window's rectangle is the one computeWindowRect gives for this page size.
  static bool placedFor(HWND window, int width, int height) {
    const RECT expected = htmlui::computeWindowRect(window, width, height);
    RECT actual = {};
    return GetWindowRect(window, &actual) && EqualRect(&expected, &actual);
  }
  static LONG left(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect.left;
  }
};

TEST_F(HtmlExternalWindowTest, SetWindowSizeMovesTheWindowOnlyForANewSize) {
  HWND window = makeWindow();
  external_->SetHostWindow(window);
  ASSERT_EQ(call(L"external.setWindowSize(651, 272)"), S_OK);
  EXPECT_TRUE(placedFor(window, 651, 272));
  const LONG centred = left(window);
  EXPECT_NE(lineAt("DEBUG] QJWindowSize: 651"), std::string::npos) << log();
  // The user drags the window away; the same size again leaves it where it is.
  SetWindowPos(window, nullptr, centred + 30, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ASSERT_EQ(call(L"external.setWindowSize(651, 272)"), S_OK);
  EXPECT_EQ(left(window), centred + 30);
  ASSERT_EQ(call(L"external.setWindowSize(400, 200)"), S_OK);
  EXPECT_TRUE(placedFor(window, 400, 200));
  external_->SetHostWindow(nullptr);
  DestroyWindow(window);
}

TEST_F(HtmlExternalWindowTest, DisabledCloseMinimisesUntilAllowedAgain) {
  HWND window = makeWindow();
  external_->SetHostWindow(window);
  ASSERT_EQ(call(L"external.disableCloseWindow(true)"), S_OK);
  SendMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(IsWindow(window));
  EXPECT_TRUE(IsIconic(window));
  ASSERT_EQ(call(L"external.restoreWindow()"), S_OK);
  EXPECT_FALSE(IsIconic(window));
  ASSERT_EQ(call(L"external.disableCloseWindow(false)"), S_OK);
  SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window));

  // A window the object has let go of is no longer guarded.
  HWND detached = makeWindow();
  external_->SetHostWindow(detached);
  ASSERT_EQ(call(L"external.disableCloseWindow(true)"), S_OK);
  external_->SetHostWindow(nullptr);
  SendMessageW(detached, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(detached));
}

std::function<void()> inHostLoop;
void CALLBACK runInHostLoop(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  inHostLoop();
}

TEST_F(HtmlExternalWindowTest, FirstDocumentSizesTheHostWindowAndCloseWindowEndsItsRun) {
  auto* document = new testsupport::FakeHtmlDocument;
  HRESULT closed = E_FAIL;
  bool closeRequestedByPage = false;
  RECT client = {};
  std::int32_t errorsAfterFirst = -1, errorsAfterSecond = -1;
  {
    testsupport::ScopedFakeHtmlDocumentClass registration(document);
    ASSERT_TRUE(registration.registered());
    // In the window's loop: the first document completes in the 0 x 0 window and sizes it; a later
    // one finds a size and leaves the window and the errors alone; then the page closes the window.
    inHostLoop = [&] {
      external_->recordError(5, 6);
      document->fireChanged(DISPID_READYSTATE);
      errorsAfterFirst = record_.wrapperError + record_.msiError;
      GetClientRect(external_->hostWindow(), &client);
      external_->recordError(5, 6);
      document->fireChanged(DISPID_READYSTATE);
      errorsAfterSecond = record_.wrapperError + record_.msiError;
      closed = call(L"external.closeWindow()");
      // Ends the run if the page could not; false when closing was already requested.
      closeRequestedByPage = !htmlui::requestHostWindowClose(external_->hostWindow());
    };
    SetTimer(nullptr, 0, 10, &runInHostLoop);
    EXPECT_TRUE(htmlui::runHostWindow(L"C:\\payload\\Load.html", external_));
  }
  document->Release();
  EXPECT_EQ(closed, S_OK);
  EXPECT_TRUE(closeRequestedByPage);
  EXPECT_NE(lineAt("DEBUG] QJClose"), std::string::npos) << log();
  HDC screen = GetDC(nullptr);
  const RECT expected = {0, 0, 400 * GetDeviceCaps(screen, LOGPIXELSX) / 96,
                         200 * GetDeviceCaps(screen, LOGPIXELSY) / 96};
  ReleaseDC(nullptr, screen);
  EXPECT_TRUE(EqualRect(&client, &expected));
  EXPECT_EQ(errorsAfterFirst, 0);
  EXPECT_EQ(errorsAfterSecond, 11);
  EXPECT_EQ(external_->hostWindow(), nullptr);
}

}  // namespace
}  // namespace downloadmanagercore
