// Win32 code. A temporary folder of the test's own, so that a test sees exactly which
// temporary folders the code under test leaves behind, whatever other tests do meanwhile.
#pragma once

#include <optional>
#include <string>

#include "support/wine_test_support_win.h"

namespace testsupport {

// Points this process's TMP and TEMP (which GetTempPathW reads on every call, TMP first) at a folder
// until destroyed, then puts back what they were (or removes them where they were not set). Meanwhile
// this process makes its scratch folders as a process without elevation does: in that folder.
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

// The scratch folders (GUID names) in the Windows temporary folder where an elevated run works, as
// full paths. Other programs' files there (the installer service's, say) are not the run's.
std::vector<std::wstring> windowsScratchFolders();
// Those of now that are not in `before`, each as "<root>\<name>/" followed by its own names
// ("<root>\<name>/a.txt"), the form leftovers are reported in.
std::vector<std::wstring> newWindowsScratchFolders(const std::vector<std::wstring>& before);

// Points this process's TMP and TEMP at a fresh scratch folder until destroyed, then restores them
// and deletes the folder. An elevated process makes its folders in the Windows temporary folder
// instead; what it makes there counts as in this one.
class ScopedPrivateTempFolder {
 public:
  ScopedPrivateTempFolder() = default;
  ScopedPrivateTempFolder(const ScopedPrivateTempFolder&) = delete;
  ScopedPrivateTempFolder& operator=(const ScopedPrivateTempFolder&) = delete;

  // Without a trailing backslash.
  const std::wstring& path() const { return folder_.path(); }
  // The names in it now, then the scratch folders made in the Windows temporary folder since this
  // object was made (see newWindowsScratchFolders).
  std::vector<std::wstring> entries() const;

 private:
  std::vector<std::wstring> windowsBefore_ = windowsScratchFolders();
  ScratchFolder folder_;
  ScopedTempVariables variables_{folder_.path()};
};

}  // namespace testsupport
