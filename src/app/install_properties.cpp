#include "app/install_properties.h"

#include "app/language_table.h"

namespace app {

InstallProperties::InstallProperties(const std::u16string& productId, const std::u16string& ownVersion,
                                     const RunEnvironment& environment)
    : productId(productId), QXDLMVersion(ownVersion) {
  // The gathering order (pass-through, token, machine id, architecture, browser, OS, country, UI
  // language) is fixed by gatherRunEnvironment; the record only stores what it was given.
  passthrough = environment.passthrough;
  requestToken = environment.requestToken;
  machineId = environment.machineId;
  architecture = environment.architecture;
  defaultBrowser = environment.defaultBrowser;
  OS = environment.os;
  country = environment.country;
  language = environment.uiLanguage;
  status = kStatusEnvironmentNotSupported;
  wrapperError = 0;
  msiError = 0;
  // Only the exact machine name counts; anything unexpected is reported as a 32-bit system.
  properties[u"osbits"] = (architecture == u"x64") ? u"64" : u"32";
}

void InstallProperties::setInstallLanguage(int index) {
  // An index outside the table is stored as "other", so the field and the "lang" code always agree.
  if (index < 0 || index >= kLanguageCount) index = kLanguageOther;
  installLanguage = index;
  properties[u"lang"] = languageCode(index);
}

}  // namespace app
