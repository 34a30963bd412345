// Win32 code. The pages' security manager, called as a document and a script engine call it. Wine has
// no HTML document to ask it, so the test asks it directly.
#include "htmlui/page_security_manager_win.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

namespace {

using htmlui::PageSecurityManager;
using Microsoft::WRL::ComPtr;

constexpr wchar_t kPage[] = L"file:///C:/Temp/1a2b/Load.html";

struct Managers {
  ComPtr<IInternetSecurityManager> document;
  ComPtr<IInternetHostSecurityManager> host;
};

Managers make() {
  Managers managers;
  EXPECT_EQ(PageSecurityManager::create(__uuidof(IInternetSecurityManager),
                                        reinterpret_cast<void**>(managers.document.GetAddressOf())),
            S_OK);
  EXPECT_EQ(managers.document.As(&managers.host), S_OK);
  return managers;
}

// The DWORD a custom-policy answer carries, freed; -1 when there is none.
DWORD customPolicy(HRESULT result, BYTE* policy, DWORD size) {
  DWORD value = static_cast<DWORD>(-1);
  if (SUCCEEDED(result) && policy != nullptr && size == sizeof(DWORD)) value = *reinterpret_cast<DWORD*>(policy);
  CoTaskMemFree(policy);
  return value;
}

TEST(PageSecurityManager, RefusesActiveXUnsafeScriptingAndDownloadsToEveryDocument) {
  Managers managers = make();
  ASSERT_TRUE(managers.document && managers.host);
  struct Row {
    DWORD action;
    HRESULT result;
    DWORD policy;
  };
  const Row rows[] = {
      {URLACTION_ACTIVEX_RUN, S_FALSE, URLPOLICY_DISALLOW},
      {URLACTION_ACTIVEX_OVERRIDE_OBJECT_SAFETY, S_FALSE, URLPOLICY_DISALLOW},
      {URLACTION_SCRIPT_OVERRIDE_SAFETY, S_FALSE, URLPOLICY_DISALLOW},
      {URLACTION_SCRIPT_SAFE_ACTIVEX, S_FALSE, URLPOLICY_DISALLOW},
      {URLACTION_DOWNLOAD_SIGNED_ACTIVEX, S_FALSE, URLPOLICY_DISALLOW},
      {URLACTION_SHELL_FILE_DOWNLOAD, S_FALSE, URLPOLICY_DISALLOW},
      {URLACTION_ACTIVEX_TREATASUNTRUSTED, S_OK, URLPOLICY_ALLOW},
  };
  for (const wchar_t* url : {kPage, L"http://example.test/", L""}) {
    for (const Row& row : rows) {
      DWORD policy = 0x55;
      EXPECT_EQ(managers.document->ProcessUrlAction(url, row.action, reinterpret_cast<BYTE*>(&policy), sizeof policy,
                                                    nullptr, 0, PUAF_DEFAULT, 0),
                row.result)
          << std::hex << row.action;
      EXPECT_EQ(policy, row.policy) << std::hex << row.action;
      policy = 0x55;
      EXPECT_EQ(managers.host->ProcessUrlAction(row.action, reinterpret_cast<BYTE*>(&policy), sizeof policy, nullptr,
                                                0, PUAF_DEFAULT, 0),
                row.result)
          << std::hex << row.action;
      EXPECT_EQ(policy, row.policy) << std::hex << row.action;
    }
  }
  // No room for the policy: the answer still says no, and nothing is written past the buffer.
  BYTE small[2] = {0x55, 0x55};
  EXPECT_EQ(managers.document->ProcessUrlAction(kPage, URLACTION_ACTIVEX_RUN, small, sizeof small, nullptr, 0, 0, 0),
            S_FALSE);
  EXPECT_EQ(small[0], 0x55);
}

TEST(PageSecurityManager, LeavesScriptAndZonesToTheSystem) {
  Managers managers = make();
  ASSERT_TRUE(managers.document);
  DWORD policy = 0x55;
  EXPECT_EQ(managers.document->ProcessUrlAction(kPage, URLACTION_SCRIPT_RUN, reinterpret_cast<BYTE*>(&policy),
                                                sizeof policy, nullptr, 0, 0, 0),
            INET_E_DEFAULT_ACTION);
  EXPECT_EQ(policy, 0x55u);
  DWORD zone = 0x55;
  EXPECT_EQ(managers.document->MapUrlToZone(kPage, &zone, 0), INET_E_DEFAULT_ACTION);
  IInternetSecurityMgrSite* site = reinterpret_cast<IInternetSecurityMgrSite*>(1);
  EXPECT_EQ(managers.document->GetSecuritySite(&site), INET_E_DEFAULT_ACTION);
  EXPECT_EQ(site, nullptr);
}

TEST(PageSecurityManager, NoObjectIsConfirmedSafeForScripts) {
  Managers managers = make();
  ASSERT_TRUE(managers.document && managers.host);
  BYTE* policy = nullptr;
  DWORD size = 0;
  HRESULT result = managers.host->QueryCustomPolicy(htmlui::kConfirmObjectSafetyPolicy, &policy, &size, nullptr, 0, 0);
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(customPolicy(result, policy, size), static_cast<DWORD>(URLPOLICY_DISALLOW));

  policy = nullptr;
  result = managers.document->QueryCustomPolicy(kPage, htmlui::kConfirmObjectSafetyPolicy, &policy, &size, nullptr,
                                                0, 0);
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(customPolicy(result, policy, size), static_cast<DWORD>(URLPOLICY_DISALLOW));

  // The engine's other custom questions get no too; the document's are the zone's.
  policy = nullptr;
  result = managers.host->QueryCustomPolicy(IID_IUnknown, &policy, &size, nullptr, 0, 0);
  EXPECT_EQ(customPolicy(result, policy, size), static_cast<DWORD>(URLPOLICY_DISALLOW));
  policy = nullptr;
  EXPECT_EQ(managers.document->QueryCustomPolicy(kPage, IID_IUnknown, &policy, &size, nullptr, 0, 0),
            INET_E_DEFAULT_ACTION);
  EXPECT_EQ(policy, nullptr);

  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(PageSecurityManager::create(IID_IDispatch, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
}

}  // namespace
