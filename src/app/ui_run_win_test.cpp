// Win32 code. The window run over real payload folders, with its reports going to the report
// collector; the HTML document is the test's stand-in where one is needed, because Wine has no HTML
// engine. The built stub shows the same run from outside.
#include "app/ui_run_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "htmlui/host_window_win.h"
#include "support/fake_html_document_win.h"
#include "support/payload_container_win.h"
#include "support/private_temp_folder_win.h"
#include "support/report_collector_win.h"
#include "support/wine_test_support_win.h"
#include "support/zip_archive_reader_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/wide_text_win.h"

namespace {

using testsupport::CollectedRequest;
using testsupport::ScratchFolder;

// The collector records a request before it answers, and a send returns only with the answer
// (Wine's WinHTTP), so a report sent is a report recorded.
using testsupport::collectedRequests;

// The text between the first "<name>" and its end tag in an analytics document.
std::string elementText(const std::string& document, const std::string& name) {
  const std::size_t start = document.find("<" + name + ">");
  const std::size_t end = document.find("</" + name + ">");
  if (start == std::string::npos || end == std::string::npos || end < start) return "(no " + name + ")";
  return document.substr(start + name.size() + 2, end - start - name.size() - 2);
}

bool isReport(const CollectedRequest& request) {
  return request.verb == "POST" && request.target == "/v1/logAnalytics";
}

// The one item of an uploaded log archive: the log as the server gets it.
std::string uploadedLog(const CollectedRequest& upload) {
  const std::vector<testsupport::ZipEntry> entries = testsupport::readZipArchive(upload.body);
  if (entries.size() != 1 || entries[0].name != "installer_log.txt") {
    ADD_FAILURE() << "the archive should hold installer_log.txt alone";
    return {};
  }
  return testsupport::zipEntryContent(entries[0]);
}

// An error run's requests are the start report, the final report saying "error occurred", and the
// upload of the log archive, named after the run that the reports describe. Returns the log.
std::string errorRunUpload(const std::vector<CollectedRequest>& requests) {
  EXPECT_EQ(requests.size(), 3u);
  if (requests.size() != 3 || !isReport(requests[0]) || !isReport(requests[1])) {
    ADD_FAILURE() << "not the requests of an error run";
    return {};
  }
  EXPECT_EQ(elementText(requests[0].body, "status"), "started");
  EXPECT_EQ(elementText(requests[1].body, "status"), "error occurred");
  EXPECT_EQ(requests[2].verb, "PUT");
  EXPECT_EQ(requests[2].target, "/v1/reportError?token=" + elementText(requests[1].body, "requestToken") +
                                    "&machineId=" + elementText(requests[1].body, "machineId"));
  return uploadedLog(requests[2]);
}

// Each property line is followed by an empty line, in key order.
void expectPropertyDump(const std::string& log, const app::InstallProperties& properties) {
  ASSERT_FALSE(properties.properties.empty());
  std::size_t after = 0;
  for (const auto& [key, value] : properties.properties) {
    const std::string line = "DEBUG] Property " + sysenv::toUtf8(sysenv::toWide(key)) + ": " +
                             sysenv::toUtf8(sysenv::toWide(value)) + "\r\n\r\n";
    const std::size_t at = log.find(line, after);
    EXPECT_NE(at, std::string::npos) << line << " after offset " << after << " in\n" << log;
    if (at != std::string::npos) after = at + line.size();
  }
}

class UiRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    testsupport::clearCollectedRequests();
  }
  void TearDown() override {
    CoUninitialize();
    testsupport::clearCollectedRequests();
  }

  // A payload unpacked from a container holding a start page.
  std::unique_ptr<payload::UiPayload> loadedPayload(app::Logger* logger = nullptr) {
    const std::wstring packed = scratch_.file(L"packed.exe");
    EXPECT_TRUE(testsupport::writeFileBytes(
        packed, testsupport::containerFile({testsupport::containerEntry(L"Load.html", "<html></html>")})));
    auto uiPayload = std::make_unique<payload::UiPayload>(logger != nullptr ? logger : &logger_, packed);
    EXPECT_TRUE(uiPayload->loaded());
    return uiPayload;
  }
  std::string logText() { return testsupport::readFileBytes(logger_.logPath()); }

  ScratchFolder scratch_;
  // Before the logger, whose folder goes into it: the run's own temporary folders are all in view.
  testsupport::ScopedPrivateTempFolder temp_;
  app::Logger logger_;
  app::InstallProperties properties_{u"KRV", u"1.0.20.1", app::RunEnvironment{}};
  downloadmanagercore::Analytics analytics_{&properties_};
};

// This thread's host window, if any: other tests may show theirs on the same desktop.
// A named function, not a lambda: on i686 the callback must be __stdcall, which no lambda converts to.
BOOL CALLBACK keepHostWindow(HWND window, LPARAM out) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (std::wstring(name) != htmlui::kHostWindowClassName) return TRUE;
  *reinterpret_cast<HWND*>(out) = window;
  return FALSE;
}

HWND ownHostWindow() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), keepHostWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

// What the stand-in page does once the window is up: it sets the status, as the page's
// setInstallStatus does, and the window is then closed as a user would close it. The requests that
// had arrived by then are kept.
struct PageVisit {
  app::InstallProperties* properties = nullptr;
  std::optional<std::int32_t> statusToSet;
  std::optional<std::vector<CollectedRequest>> requestsWhileShown;
};
PageVisit pageVisit;

void CALLBACK actAsThePage(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND window = ownHostWindow();
  if (window == nullptr) return;
  KillTimer(nullptr, timer);
  pageVisit.requestsWhileShown = testsupport::collectedRequests();
  if (pageVisit.statusToSet) pageVisit.properties->status = *pageVisit.statusToSet;
  PostMessageW(window, WM_CLOSE, 0, 0);
}

// runUi over `uiPayload` with the stand-in document and page; true when the window ran.
bool runWithStandInPage(const payload::UiPayload& uiPayload, app::InstallProperties& properties, app::Logger& logger,
                        downloadmanagercore::Analytics& analytics, std::optional<std::int32_t> statusToSet,
                        std::wstring* loadedUrl = nullptr) {
  pageVisit = PageVisit{&properties, statusToSet, std::nullopt};
  auto* document = new testsupport::FakeHtmlDocument();
  bool windowRan = false;
  {
    testsupport::ScopedFakeHtmlDocumentClass documentClass(document);
    EXPECT_TRUE(documentClass.registered());
    SetTimer(nullptr, 0, 20, actAsThePage);
    windowRan = app::runUi(uiPayload, nullptr, properties, logger, analytics);
  }
  if (loadedUrl != nullptr) *loadedUrl = document->loadedUrl;
  document->Release();
  return windowRan;
}

TEST_F(UiRun, UnreadablePayloadShowsNoWindowAndHandsTheLogOverAsAnError) {
  payload::UiPayload missing(&logger_, scratch_.file(L"missing.exe"));
  ASSERT_FALSE(missing.loaded());

  EXPECT_FALSE(app::runUi(missing, nullptr, properties_, logger_, analytics_));

  EXPECT_EQ(properties_.status, app::kStatusErrorOccurred);
  const std::string log = logText();
  EXPECT_NE(log.find("DEBUG] Property osbits: 32\r\n\r\n"), std::string::npos) << log;
  // Closed for the archive: nothing more reaches the file.
  logger_.debug(L"after the close");
  EXPECT_EQ(logText(), log);
}

TEST_F(UiRun, LoadedPayloadShowsTheStartPageUntilTheWindowIsClosed) {
  auto uiPayload = loadedPayload();
  std::wstring loadedUrl;

  EXPECT_TRUE(runWithStandInPage(*uiPayload, properties_, logger_, analytics_, std::nullopt, &loadedUrl));

  // The document was given the page as a file URL (what the URL moniker makes of the path).
  std::wstring pageUrl = L"file:///" + uiPayload->payloadFolder() + L"Load.html";
  for (wchar_t& c : pageUrl) c = (c == L'\\') ? L'/' : c;
  EXPECT_EQ(loadedUrl, pageUrl);
  EXPECT_EQ(ownHostWindow(), nullptr);
  // The page did not touch the status: the run was no error, and the log stays open.
  EXPECT_EQ(properties_.status, app::kStatusEnvironmentNotSupported);
  logger_.debug(L"still open");
  EXPECT_NE(logText().find("still open"), std::string::npos);
  EXPECT_EQ(logText().find("Property "), std::string::npos);
}

TEST_F(UiRun, WithoutAnHtmlEngineTheWindowRunFailsAndTheStatusIsKept) {
  auto uiPayload = loadedPayload();

  EXPECT_FALSE(app::runUi(*uiPayload, nullptr, properties_, logger_, analytics_));

  EXPECT_EQ(ownHostWindow(), nullptr);
  EXPECT_EQ(properties_.status, app::kStatusEnvironmentNotSupported);
  EXPECT_EQ(logText().find("Property "), std::string::npos);
}

TEST_F(UiRun, UnreadablePayloadRunSendsBothReportsAndUploadsTheLogWithThePropertyDump) {
  SKIP_WITHOUT_REPORT_COLLECTOR();
  payload::UiPayload missing(&logger_, scratch_.file(L"missing.exe"));
  const std::vector<std::wstring> tempBefore = temp_.entries();

  app::runUi(missing, nullptr, properties_, logger_, analytics_);

  const std::string log = errorRunUpload(collectedRequests());
  EXPECT_EQ(log, logText());
  expectPropertyDump(log, properties_);
  EXPECT_EQ(temp_.entries(), tempBefore);
}

TEST_F(UiRun, StartReportPrecedesTheWindowAndTheFinalReportCarriesThePagesStatus) {
  SKIP_WITHOUT_REPORT_COLLECTOR();
  const struct {
    std::optional<std::int32_t> pageStatus;
    const char* finalStatus;
    bool uploads;
  } cases[] = {
      {std::nullopt, "environment not supported", false},
      {app::kStatusCompleted, "completed", false},
      {app::kStatusErrorOccurred, "error occurred", true},
      {app::kStatusCanceled, "canceled", false},
      {app::kStatusNotStarted, "canceled", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.finalStatus);
    testsupport::clearCollectedRequests();
    // Each run closes its own log when it ends in an error.
    app::Logger logger;
    app::InstallProperties properties{u"KRV", u"1.0.20.1", app::RunEnvironment{}};
    downloadmanagercore::Analytics analytics(&properties);
    auto uiPayload = loadedPayload(&logger);
    const std::vector<std::wstring> tempBefore = temp_.entries();

    EXPECT_TRUE(runWithStandInPage(*uiPayload, properties, logger, analytics, c.pageStatus));

    ASSERT_TRUE(pageVisit.requestsWhileShown.has_value());
    ASSERT_EQ(pageVisit.requestsWhileShown->size(), 1u);
    EXPECT_TRUE(isReport(pageVisit.requestsWhileShown->at(0)));
    EXPECT_EQ(elementText(pageVisit.requestsWhileShown->at(0).body, "status"), "started");
    const std::vector<CollectedRequest> requests = collectedRequests();
    ASSERT_EQ(requests.size(), c.uploads ? 3u : 2u);
    ASSERT_TRUE(isReport(requests[1]));
    EXPECT_EQ(elementText(requests[1].body, "status"), c.finalStatus);
    if (c.uploads) {
      expectPropertyDump(errorRunUpload(requests), properties);
    } else {
      logger.debug(L"still open");
      EXPECT_NE(testsupport::readFileBytes(logger.logPath()).find("still open"), std::string::npos);
    }
    EXPECT_EQ(temp_.entries(), tempBefore);
  }
}

// The built stub carries no payload: its run is the error run, seen from outside.
TEST_F(UiRun, StubWithoutPayloadReportsAnErrorAndUploadsItsLogAndLeavesNoTemporaryFolder) {
  SKIP_WITHOUT_REPORT_COLLECTOR();
  // The built stub's last four bytes are whatever the linker put there, and they may point at
  // zeros: an empty container, which counts as a payload. A copy whose trailer points past its end
  // has none for certain.
  ScratchFolder programs;
  const std::wstring stub = programs.file(L"SorvaneProSetup.exe");
  std::string bytes = testsupport::readFileBytes(testsupport::stubExePath());
  ASSERT_FALSE(bytes.empty());
  bytes += std::string(4, '\xFF');
  ASSERT_TRUE(testsupport::writeFileBytes(stub, bytes));
  ScratchFolder temp;
  const testsupport::ChildResult run =
      testsupport::runChild(testsupport::quoted(stub), {{L"TMP", temp.path()}, {L"TEMP", temp.path()}}, 60000);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);

  const std::string log = errorRunUpload(collectedRequests());
  EXPECT_NE(log.find("DEBUG] Property osbits: "), std::string::npos) << log;
  EXPECT_EQ(testsupport::listFolder(temp.path()), std::vector<std::wstring>{});
}

// No report server: every send fails at once, and the run still ends as it would and cleans up.
TEST_F(UiRun, StubRunGoesOnWhenTheReportServerRefusesConnections) {
  SKIP_WITHOUT_REPORT_COLLECTOR();
  ScratchFolder temp;
  testsupport::ChildResult run;
  {
    testsupport::ScopedCollectorRefusal refusal;
    ASSERT_TRUE(refusal.active());
    run = testsupport::runChild(testsupport::quoted(testsupport::stubExePath()),
                                {{L"TMP", temp.path()}, {L"TEMP", temp.path()}}, 60000);
  }
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(collectedRequests().empty());
  EXPECT_EQ(testsupport::listFolder(temp.path()), std::vector<std::wstring>{});
}

}  // namespace
