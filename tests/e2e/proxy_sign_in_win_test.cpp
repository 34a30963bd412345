// Win32 test code. Whole quiet runs of the packed stub whose Internet settings send it through a
// proxy, as a company's machine does: Debian's squid on loopback (scripts/test-proxy-server), open,
// wanting a Basic sign-in, or refusing. The sign-in's credentials are saved in Credential Manager
// by the test, as a user saves them; the prefix's settings and credentials are put back after each
// case.
#include <windows.h>
#include <wincred.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "support/stub_run_win.h"
#include "support/test_product_win.h"
#include "support/wine_test_support_win.h"

namespace testsupport {
namespace {

constexpr wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr wchar_t kSignInProxy[] = L"127.0.0.1:8633";
constexpr int kDownloadStage = 1;

std::wstring proxyState() { return windowsPathFromEnvironment("SORVANE_TEST_PROXY_STATE"); }

// One value of the user's Internet settings, as it was, put back when this goes.
class SavedSetting {
 public:
  explicit SavedSetting(const wchar_t* name) : name_(name) {
    DWORD size = sizeof data_;
    present_ = RegGetValueW(HKEY_CURRENT_USER, kInternetSettings, name, RRF_RT_ANY | RRF_NOEXPAND, &type_, data_,
                            &size) == ERROR_SUCCESS;
    size_ = size;
  }
  ~SavedSetting() {
    if (present_) {
      RegSetKeyValueW(HKEY_CURRENT_USER, kInternetSettings, name_, type_, data_, size_);
    } else {
      RegDeleteKeyValueW(HKEY_CURRENT_USER, kInternetSettings, name_);
    }
  }
  SavedSetting(const SavedSetting&) = delete;
  SavedSetting& operator=(const SavedSetting&) = delete;

 private:
  const wchar_t* name_;
  bool present_ = false;
  DWORD type_ = 0;
  BYTE data_[2048] = {};
  DWORD size_ = 0;
};

class ProxySignIn : public StubRunTest {
 protected:
  void SetUp() override {
    StubRunTest::SetUp();
    if (IsSkipped()) return;
    if (!pathExists(proxyState() + L"\\squid.pid")) GTEST_SKIP() << "the proxy is not running (is squid installed?)";
    password_ = readFileBytes(proxyState() + L"\\password");
    while (!password_.empty() && (password_.back() == '\n' || password_.back() == '\r')) password_.pop_back();
    ASSERT_FALSE(password_.empty());
    CredDeleteW(kSignInProxy, CRED_TYPE_GENERIC, 0);
  }
  void TearDown() override {
    CredDeleteW(kSignInProxy, CRED_TYPE_GENERIC, 0);
    StubRunTest::TearDown();
  }

  // The machine's Internet settings send every http request through the proxy at `address`.
  static void useProxy(const std::wstring& address) {
    const DWORD enable = 1;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kInternetSettings, L"ProxyEnable", REG_DWORD,
                                             &enable, sizeof enable));
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kInternetSettings, L"ProxyServer", REG_SZ,
                                             address.c_str(), static_cast<DWORD>((address.size() + 1) * 2)));
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kInternetSettings, L"ProxyOverride");
  }
  static void saveCredentials(const std::string& password) {
    const std::wstring blob(password.begin(), password.end());
    CREDENTIALW credential{};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = const_cast<wchar_t*>(kSignInProxy);
    credential.UserName = const_cast<wchar_t*>(L"tester");
    credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(blob.data()));
    credential.CredentialBlobSize = static_cast<DWORD>(blob.size() * sizeof(wchar_t));
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    ASSERT_TRUE(CredWriteW(&credential, 0)) << GetLastError();
  }
  // What the proxy logged since markProxyLog: "<status> <user>" per request for the package.
  std::vector<std::string> proxyAnswers() const {
    std::vector<std::string> answers;
    const std::string log = readFileBytes(proxyState() + L"\\access.log");
    std::size_t start = std::min(log.size(), proxyLogStart_);
    while (start < log.size()) {
      std::size_t end = log.find('\n', start);
      if (end == std::string::npos) end = log.size();
      const std::string line = log.substr(start, end - start);
      start = end + 1;
      if (line.find("/SorvanePro.zip") == std::string::npos) continue;
      // "time elapsed client CODE/STATUS bytes METHOD URL USER HIERARCHY TYPE"
      std::vector<std::string> fields;
      for (std::size_t at = 0; at < line.size();) {
        const std::size_t next = line.find_first_not_of(' ', at);
        if (next == std::string::npos) break;
        const std::size_t stop = line.find(' ', next);
        fields.push_back(line.substr(next, stop == std::string::npos ? std::string::npos : stop - next));
        at = stop == std::string::npos ? line.size() : stop;
      }
      if (fields.size() < 8) continue;
      answers.push_back(fields[3].substr(fields[3].find('/') + 1) + " " + fields[7]);
    }
    return answers;
  }
  void markProxyLog() { proxyLogStart_ = readFileBytes(proxyState() + L"\\access.log").size(); }

  std::string password_;
  std::size_t proxyLogStart_ = 0;
};

TEST_F(ProxySignIn, TheStubSignsInWithSavedCredentialsAndEndsAtOnceWithoutThem) {
  const SavedSetting enable(L"ProxyEnable");
  const SavedSetting server(L"ProxyServer");
  const SavedSetting bypass(L"ProxyOverride");
  struct Case {
    const char* name;
    const wchar_t* proxy;
    std::optional<std::string> savedPassword;  // under "tester" for the sign-in proxy
    int result;                                // 0: the run completes
    std::vector<std::string> answers;
    const char* errorLine;
    const char* message;  // what the quiet page says, for a run that fails
  };
  const std::string wrong = "not-" + password_;
  const std::vector<Case> cases = {
      {"open proxy", L"127.0.0.1:8634", std::nullopt, 0, {"200 -"}, nullptr, nullptr},
      {"saved credentials", kSignInProxy, password_, 0, {"407 -", "200 tester"}, nullptr, nullptr},
      // At once: one demand, no retries, and the message tells the user what to do.
      {"no credentials", kSignInProxy, std::nullopt, 7, {"407 -"},
       "QJDownload: the proxy 127.0.0.1:8633 wants a sign-in for http://127.0.0.1:8631/SorvanePro.zip (it offers "
       "Basic sign-in) and no credentials were given: sign in on the page, or save the proxy's user name and "
       "password in Credential Manager as a generic credential named 127.0.0.1:8633",
       "QJMessageBox: Your network's proxy server needs you to sign in."},
      {"wrong password", kSignInProxy, wrong, 7, {"407 -", "407 tester"},
       "QJDownload: the proxy 127.0.0.1:8633 refused the sign-in as tester",
       "QJMessageBox: Your network's proxy server needs you to sign in."},
      {"refusing proxy", L"127.0.0.1:8635", std::nullopt, 1, {"403 -"}, nullptr,
       "QJMessageBox: Sorvane Pro could not be downloaded."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(uninstallTestProduct());
    ASSERT_TRUE(servePackage(L"SorvanePro.zip"));
    clearCollectedRequests();
    CredDeleteW(kSignInProxy, CRED_TYPE_GENERIC, 0);
    if (c.savedPassword) saveCredentials(*c.savedPassword);
    useProxy(c.proxy);
    markProxyLog();

    const std::optional<DWORD> exitCode = runQuiet();

    EXPECT_EQ(proxyAnswers(), c.answers);
    if (c.result == 0) {
      EXPECT_EQ(exitCode, std::optional<DWORD>(0));
      expectCompletedRun();
      continue;
    }
    EXPECT_EQ(exitCode, std::optional<DWORD>(1603));
    EXPECT_FALSE(testProductInstalled());
    const std::vector<std::string> logs = expectErrorReports(kDownloadStage, c.result, {"installer_log.txt"});
    ASSERT_EQ(logs.size(), 1u);
    if (c.errorLine != nullptr) {
      EXPECT_NE(logs[0].find(c.errorLine), std::string::npos) << logs[0];
    }
    // The quiet run has no form to show: it ends with the message at once.
    EXPECT_NE(logs[0].find(c.message), std::string::npos) << logs[0];
    // The password reaches the proxy and nothing else.
    EXPECT_EQ(logs[0].find(password_), std::string::npos);
    for (const CollectedRequest& request : collectedRequests()) {
      EXPECT_EQ(request.body.find(password_), std::string::npos) << request.target;
    }
  }
}

}  // namespace
}  // namespace testsupport
