// Win32 code. The user's proxy setting and saved credentials; see proxy_sign_in_win.h.
#include "downloadmanagercore/proxy_sign_in_win.h"

#include <windows.h>
#include <wincred.h>
#include <wininet.h>

#include <memory>
#include <vector>

#include "sysenv/system_dll_win.h"
#include "sysenv/wide_text_win.h"

namespace downloadmanagercore {

namespace {

void wipe(std::wstring& text) {
  if (!text.empty()) SecureZeroMemory(&text[0], text.size() * sizeof(wchar_t));
  text.clear();
}

// A string of WinINet's per-connection options, which the caller frees with GlobalFree.
std::u16string takeOptionText(wchar_t* text) {
  if (text == nullptr) return {};
  std::u16string value = sysenv::toU16(text);
  GlobalFree(text);
  return value;
}

struct CredentialDeleter {
  void operator()(CREDENTIALW* credential) const { CredFree(credential); }
};

}  // namespace

ProxyCredentials::ProxyCredentials(std::wstring user, std::wstring password)
    : user_(std::move(user)), password_(std::move(password)) {}
ProxyCredentials::ProxyCredentials(const ProxyCredentials& other) : user_(other.user_), password_(other.password_) {}
ProxyCredentials& ProxyCredentials::operator=(const ProxyCredentials& other) {
  if (this == &other) return *this;
  wipe(password_);
  wipe(user_);
  user_ = other.user_;
  password_ = other.password_;
  return *this;
}
ProxyCredentials::~ProxyCredentials() {
  wipe(password_);
  wipe(user_);
}

std::wstring ProxyCredentials::basicAuthorization() const {
  return sysenv::toWide(basicProxyAuthorization(sysenv::toU16(user_), sysenv::toU16(password_)));
}

std::optional<ProxyEndpoint> configuredProxy(const std::wstring& url) {
  // WinINet is not a Known DLL: without it nothing is known about a proxy.
  static const auto queryOption =
      sysenv::systemFunction<decltype(&InternetQueryOptionW)>(L"wininet.dll", "InternetQueryOptionW");
  if (queryOption == nullptr) return std::nullopt;
  INTERNET_PER_CONN_OPTIONW options[3] = {};
  options[0].dwOption = INTERNET_PER_CONN_FLAGS;
  options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
  options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
  INTERNET_PER_CONN_OPTION_LISTW list{};
  list.dwSize = sizeof list;
  list.dwOptionCount = 3;
  list.pOptions = options;
  DWORD size = sizeof list;
  if (!queryOption(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) return std::nullopt;
  const std::u16string server = takeOptionText(options[1].Value.pszValue);
  const std::u16string bypass = takeOptionText(options[2].Value.pszValue);
  if ((options[0].Value.dwValue & PROXY_TYPE_PROXY) == 0) return std::nullopt;
  const UrlHost target = urlHost(sysenv::toU16(url));
  if (target.host.empty() || bypassesProxy(bypass, target.host)) return std::nullopt;
  return proxyForScheme(server, target.scheme);
}

std::optional<ProxyCredentials> savedProxyCredentials(const ProxyEndpoint& proxy) {
  for (const std::u16string& target : proxyCredentialTargets(proxy)) {
    CREDENTIALW* found = nullptr;
    if (!CredReadW(sysenv::toWide(target).c_str(), CRED_TYPE_GENERIC, 0, &found)) continue;
    const std::unique_ptr<CREDENTIALW, CredentialDeleter> credential(found);
    if (credential->UserName == nullptr || credential->CredentialBlobSize % sizeof(wchar_t) != 0) continue;
    // Credential Manager keeps a generic password as UTF-16, without a terminator.
    std::wstring password(reinterpret_cast<const wchar_t*>(credential->CredentialBlob),
                          credential->CredentialBlobSize / sizeof(wchar_t));
    ProxyCredentials saved(credential->UserName, password);
    wipe(password);
    SecureZeroMemory(credential->CredentialBlob, credential->CredentialBlobSize);
    return saved;
  }
  return std::nullopt;
}

}  // namespace downloadmanagercore
