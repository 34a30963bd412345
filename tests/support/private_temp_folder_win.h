// Win32 code. A temporary folder of the test's own, so that a test sees exactly which
// temporary folders the code under test leaves behind, whatever other tests do meanwhile.
#pragma once

#include <optional>
#include <string>

#include "support/wine_test_support_win.h"

namespace testsupport {

// Points this process's TMP and TEMP (which GetTempPathW reads on every call, TMP first) at a folder
// until destroyed, then puts back what they were (or removes them where they were not set).
class ScopedTempVariables {
 public:
  explicit ScopedTempVariables(const std::wstring& folder);
  ~ScopedTempVariables();
  ScopedTempVariables(const ScopedTempVariables&) = delete;
  ScopedTempVariables& operator=(const ScopedTempVariables&) = delete;

  // Points them somewhere else.
  void set(const std::wstring& folder);

 private:
  std::optional<std::wstring> oldTmp_, oldTemp_;
};

// Points this process's TMP and TEMP at a fresh scratch folder until destroyed, then restores them
// and deletes the folder.
class ScopedPrivateTempFolder {
 public:
  ScopedPrivateTempFolder() = default;
  ScopedPrivateTempFolder(const ScopedPrivateTempFolder&) = delete;
  ScopedPrivateTempFolder& operator=(const ScopedPrivateTempFolder&) = delete;

  // Without a trailing backslash.
  const std::wstring& path() const { return folder_.path(); }
  // The names in it now.
  std::vector<std::wstring> entries() const { return listFolder(folder_.path()); }

 private:
  ScratchFolder folder_;
  ScopedTempVariables variables_{folder_.path()};
};

}  // namespace testsupport
