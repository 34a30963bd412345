// The one record that describes a run: the environment, the product, how far the run has come, and
// the ordered property map that the page reads. Fields are named after the analytics document's
// elements. It has no lock: while the window runs, the script object's lock guards the map and the
// error fields.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace app {

// Final status of a run, as the report renders it.
enum InstallStatus : std::int32_t {
  kStatusNotStarted = 0,
  kStatusCompleted = 1,
  kStatusErrorOccurred = 2,
  kStatusCanceled = 3,
  kStatusEnvironmentNotSupported = 4,
};

// What the constructor stores from the environment, gathered in a fixed order by
// `gatherRunEnvironment` (Win32) so that the record itself stays plain and testable.
struct RunEnvironment {
  std::u16string passthrough;
  std::u16string requestToken;
  std::u16string machineId;
  std::u16string architecture;
  std::u16string defaultBrowser;
  std::u16string os;
  std::u16string country;
  int uiLanguage = 0;  // LanguageTable index of the user's default UI language
};

// Ordered by UTF-16 code units, as the property dump and the report list them.
using PropertyMap = std::map<std::u16string, std::u16string>;

struct InstallProperties {
  InstallProperties(const std::u16string& productId, const std::u16string& ownVersion,
                    const RunEnvironment& environment);

  // installLanguage := index; properties["lang"] := its code.
  void setInstallLanguage(int index);

  std::u16string requestToken;
  std::u16string country;
  std::u16string productId;
  std::u16string productVersion;
  std::u16string channelId;
  std::u16string serialKey;
  std::int32_t installLanguage = 0;
  std::int32_t status = kStatusEnvironmentNotSupported;
  std::int32_t wrapperError = 0;
  std::int32_t msiError = 0;
  std::u16string OS;
  std::int32_t language = 0;
  std::u16string architecture;
  std::u16string defaultBrowser;
  std::u16string QXDLMVersion;
  std::u16string machineId;
  PropertyMap externalProperties;
  PropertyMap properties;
  std::u16string passthrough;
};

}  // namespace app
