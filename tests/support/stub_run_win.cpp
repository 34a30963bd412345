// Win32 code.
#include "support/stub_run_win.h"

#include <regex>

#include "support/private_temp_folder_win.h"
#include "support/test_product_win.h"
#include "support/zip_archive_reader_win.h"
#include "sysenv/shell_win.h"

namespace testsupport {
namespace {

// Where the pages fetch the package, inside the package server's root; the copy that a route file
// points at.
constexpr wchar_t kPackageName[] = L"SorvanePro.zip";
constexpr wchar_t kRoutedPackageName[] = L"SorvanePro-routed.zip";
constexpr wchar_t kRouteFileName[] = L"SorvanePro.zip.route";

std::wstring environmentBlockWith(const std::wstring& tempFolder) {
  std::wstring block;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; *entry != 0; entry += wcslen(entry) + 1) {
    const std::wstring text = entry;
    if (_wcsnicmp(entry, L"TMP=", 4) == 0 || _wcsnicmp(entry, L"TEMP=", 5) == 0) continue;
    block += text + L'\0';
  }
  FreeEnvironmentStringsW(strings);
  block += L"TMP=" + tempFolder + L'\0' + L"TEMP=" + tempFolder + L'\0' + L'\0';
  return block;
}

// The text between <tag> and </tag>, or nothing.
std::optional<std::string> elementText(const std::string& document, const std::string& tag) {
  const std::string open = "<" + tag + ">", close = "</" + tag + ">";
  const std::size_t start = document.find(open);
  if (start == std::string::npos) return std::nullopt;
  const std::size_t end = document.find(close, start);
  if (end == std::string::npos) return std::nullopt;
  return document.substr(start + open.size(), end - start - open.size());
}

}  // namespace

std::wstring packedStubPath() { return windowsPathFromEnvironment("SORVANE_PACKED_STUB"); }
std::wstring pinnedStubPath() { return windowsPathFromEnvironment("SORVANE_PINNED_STUB"); }
std::wstring packedCrashStubPath() { return windowsPathFromEnvironment("SORVANE_PACKED_CRASH_STUB"); }

bool servePackage(const std::wstring& packageName, const std::string& faultRoute) {
  withdrawPackage();
  const std::wstring source = testBinFolder() + L"\\demo-product\\" + packageName;
  const std::wstring root = testServerRoot();
  if (faultRoute.empty()) return CopyFileW(source.c_str(), (root + kPackageName).c_str(), FALSE) != 0;
  return CopyFileW(source.c_str(), (root + kRoutedPackageName).c_str(), FALSE) &&
         writeFileBytes(root + kRouteFileName, faultRoute + "SorvanePro-routed.zip\n");
}

void withdrawPackage() {
  const std::wstring root = testServerRoot();
  for (const wchar_t* name : {kPackageName, kRoutedPackageName, kRouteFileName}) DeleteFileW((root + name).c_str());
}

StubProcess::StubProcess(const std::wstring& exe, const std::wstring& arguments, const std::wstring& tempFolder) {
  std::wstring commandLine = quoted(exe) + L" " + arguments;
  std::wstring environment = environmentBlockWith(tempFolder);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                     environment.data(), nullptr, &startup, &process)) {
    CloseHandle(process.hThread);
    process_.reset(process.hProcess);
  }
}

StubProcess::~StubProcess() {
  if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 10000);
  }
}

std::optional<DWORD> StubProcess::wait(DWORD timeoutMs) {
  if (!process_) return std::nullopt;
  HANDLE process = process_.get();
  if (!pumpMessagesUntil([process] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, timeoutMs)) {
    return std::nullopt;
  }
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process, &exitCode)) return std::nullopt;
  return exitCode;
}

std::string expectedAnalyticsDocument(const RunIdentity& identity, const ReportValues& values) {
  return "<QXDLMAnalytics><requestToken>" + identity.requestToken + "</requestToken><country>" + identity.country +
         "</country><mainApp><productId>KRV</productId><productVersion>" + values.productVersion +
         "</productVersion><channelId>" + values.channelId +
         "</channelId><installLanguage>English</installLanguage><status>" + values.status +
         "</status><serialKey></serialKey></mainApp><error><wrapperError>" + std::to_string(values.wrapperError) +
         "</wrapperError><msiError>" + std::to_string(values.msiError) + "</msiError></error>" +
         identity.userEnvironment + "<QXDLMVersion>1.0.20.1</QXDLMVersion><machineId>" + identity.machineId +
         "</machineId></QXDLMAnalytics>";
}

void StubRunTest::SetUp() {
  SKIP_WITHOUT_STUB_RUN_SETUP();
  ASSERT_TRUE(uninstallTestProduct());
  DeleteFileW(sysenv::desktopShortcutPath(kShortcutName).c_str());
  withdrawPackage();
  ASSERT_TRUE(resetTestServerHits());
  clearCollectedRequests();
  windowsScratchBefore_ = windowsScratchFolders();
}

void StubRunTest::TearDown() {
  if (IsSkipped()) return;
  // A crashed run keeps its folders in the Windows temporary folder (nothing tears it down); the
  // test has judged them, and the next test must not take them for its own.
  for (const std::wstring& name : newWindowsScratchFolders(windowsScratchBefore_)) {
    if (!name.empty() && name.back() == L'/') sysenv::deleteFolderTree(name.substr(0, name.size() - 1));
  }
  EXPECT_TRUE(uninstallTestProduct());
  DeleteFileW(sysenv::desktopShortcutPath(kShortcutName).c_str());
  withdrawPackage();
}

std::optional<DWORD> StubRunTest::runStub(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs) {
  StubProcess stub(exe, arguments, temp_.path());
  EXPECT_TRUE(stub.started()) << "cannot start " << std::string(exe.begin(), exe.end());
  const std::optional<DWORD> exitCode = stub.wait(timeoutMs);
  EXPECT_TRUE(exitCode.has_value()) << "the stub did not end within " << timeoutMs << " ms";
  return exitCode;
}

std::vector<CollectedRequest> StubRunTest::collectedRun() {
  const std::vector<CollectedRequest> requests = collectedRequests();
  identity_ = {};
  if (requests.empty()) {
    ADD_FAILURE() << "the collector received nothing";
    return requests;
  }
  const std::string& start = requests[0].body;
  // The identity's shape; its values are the machine's and the run's own.
  static const std::regex token("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
  static const std::regex machineId("[PVX]-[0-9A-Z]{8}-[0-9A-Z]{4}-[0-9A-Z]{4}-[0-9A-Z]{4}-[0-9A-Z]{12}");
  identity_.requestToken = elementText(start, "requestToken").value_or("");
  identity_.country = elementText(start, "country").value_or("");
  identity_.machineId = elementText(start, "machineId").value_or("");
  const std::optional<std::string> environment = elementText(start, "userEnvironment");
  identity_.userEnvironment = "<userEnvironment>" + environment.value_or("") + "</userEnvironment>";
  EXPECT_TRUE(std::regex_match(identity_.requestToken, token)) << start;
  EXPECT_TRUE(std::regex_match(identity_.machineId, machineId)) << start;
  EXPECT_TRUE(environment.has_value()) << start;
  return requests;
}

void StubRunTest::expectReport(const CollectedRequest& request, const ReportValues& values) const {
  EXPECT_EQ(request.verb, "POST");
  EXPECT_EQ(request.target, "/v1/logAnalytics");
  EXPECT_EQ(request.header("Content-Type"), "application/xml");
  EXPECT_EQ(request.body, expectedAnalyticsDocument(identity_, values));
}

std::vector<std::string> StubRunTest::expectLogUpload(const CollectedRequest& request,
                                                      const std::vector<std::string>& names) const {
  EXPECT_EQ(request.verb, "PUT");
  EXPECT_EQ(request.target, "/v1/reportError?token=" + identity_.requestToken + "&machineId=" + identity_.machineId);
  std::vector<std::string> contents;
  std::vector<std::string> seenNames;
  for (const ZipEntry& entry : readZipArchive(request.body)) {
    seenNames.push_back(entry.name);
    contents.push_back(zipEntryContent(entry));
  }
  EXPECT_EQ(seenNames, names);
  return contents;
}

std::vector<std::wstring> StubRunTest::leftInTemp() const {
  std::vector<std::wstring> left;
  for (const std::wstring& name : listFolder(temp_.path())) {
    const std::wstring path = temp_.path() + L"\\" + name;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      left.push_back(name);
      continue;
    }
    left.push_back(name + L"/");
    for (const std::wstring& inner : listFolder(path)) left.push_back(name + L"/" + inner);
  }
  for (std::wstring& folder : newWindowsScratchFolders(windowsScratchBefore_)) left.push_back(std::move(folder));
  return left;
}

std::vector<std::string> StubRunTest::expectErrorReports(int wrapperError, int msiError,
                                                         const std::vector<std::string>& uploadedNames) {
  const std::vector<CollectedRequest> requests = collectedRun();
  if (requests.size() != 3u) {
    ADD_FAILURE() << requests.size() << " requests, not the start report, the final one and the upload";
    return {};
  }
  expectReport(requests[0], {"started", 0, 0, "", ""});
  expectReport(requests[1], {"error occurred", wrapperError, msiError, "", "demo"});
  return expectLogUpload(requests[2], uploadedNames);
}

void StubRunTest::expectCompletedRun() {
  EXPECT_TRUE(testProductInstalled());
  EXPECT_EQ(installedTestProductVersion(), L"5.2.1");
  const std::vector<CollectedRequest> requests = collectedRun();
  ASSERT_EQ(requests.size(), 2u);
  expectReport(requests[0], {"started", 0, 0, "", ""});
  expectReport(requests[1], {"completed", 0, 0, "5.2.1", "demo"});
  // The pending installation's shortcut came and went with the run.
  EXPECT_FALSE(shortcutExists());
  EXPECT_EQ(leftInTemp(), std::vector<std::wstring>{});
}

bool StubRunTest::shortcutExists() const { return pathExists(sysenv::desktopShortcutPath(kShortcutName)); }

}  // namespace testsupport
