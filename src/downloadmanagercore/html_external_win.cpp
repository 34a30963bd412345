// Win32 code. The script object's state: construction and the work folder, the property map and the
// error pair under the lock, and the method table.
#include "downloadmanagercore/html_external_win.h"

#include <string>

#include "sysenv/scratch_folder_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/wide_text_win.h"

namespace downloadmanagercore {

namespace {

// Three seconds in all for the processes of a finished installer to let go of the work folder.
constexpr int kWorkFolderDeleteAttempts = 30;
constexpr DWORD kWorkFolderDeletePauseMs = 100;

}  // namespace

HtmlExternal::HtmlExternal(app::InstallProperties* record, Analytics* analytics, app::Logger* logger,
                           WorkFolderMaker makeWorkFolder)
    : record_(record), analytics_(analytics), logger_(logger) {
  setProperty(L"downloadTotal", L"1");
  setProperty(L"downloadCurrent", L"0");
  setProperty(L"installProgress", L"0");
  // Only a folder made here is ever the work folder (and deleted at the end). Without one the work
  // folder stays empty, and the jobs that need it fail.
  std::wstring folder;
  const bool made = makeWorkFolder != nullptr ? makeWorkFolder(folder) : sysenv::createScratchFolder(folder);
  if (made) {
    workFolder_ = folder;
  } else if (logger_) {
    logger_->error(L"create work folder failed!");
  }
}

HtmlExternal::~HtmlExternal() {
  deleteWorkFolder();
}

void HtmlExternal::deleteWorkFolder() {
  if (workFolder_.empty() || workFolderDeleted_.exchange(true)) return;
  // The installer ran with the work folder as its current folder, and a process it started may let
  // go of that a moment after the installer itself has ended (under Wine, the console host of a
  // console installer does): the folder then stays, empty. So the deletion is tried again for a
  // short while.
  for (int attempt = 1; !sysenv::deleteFolderTree(workFolder_) && attempt < kWorkFolderDeleteAttempts; ++attempt) {
    if (GetFileAttributesW(workFolder_.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    Sleep(kWorkFolderDeletePauseMs);
  }
}

UINT HtmlExternal::GetMethodTable(const htmlui::MethodEntry** table) {
  // Row i has DISPID i + 1.
  static const htmlui::MethodEntry kMethodTable[] = {
      HTMLUI_METHOD(HtmlExternal, setWindowSize),    HTMLUI_METHOD(HtmlExternal, closeWindow),
      HTMLUI_METHOD(HtmlExternal, download),         HTMLUI_METHOD(HtmlExternal, install),
      HTMLUI_METHOD(HtmlExternal, getProperty),      HTMLUI_METHOD(HtmlExternal, setChannel),
      HTMLUI_METHOD(HtmlExternal, setInstallStatus), HTMLUI_METHOD(HtmlExternal, startInstallProgram),
      HTMLUI_METHOD(HtmlExternal, hideWindow),       HTMLUI_METHOD(HtmlExternal, dragWindow),
      HTMLUI_METHOD(HtmlExternal, messageBox),       HTMLUI_METHOD(HtmlExternal, disableCloseWindow),
      HTMLUI_METHOD(HtmlExternal, restoreWindow),    HTMLUI_METHOD(HtmlExternal, openPage),
      HTMLUI_METHOD(HtmlExternal, retryMessageBox),  HTMLUI_METHOD(HtmlExternal, manageShortcut),
      HTMLUI_METHOD(HtmlExternal, proxySignIn),
  };
  return htmlui::exposeMethodTable(kMethodTable, table);
}

void HtmlExternal::setProperty(const std::wstring& key, const std::wstring& value) {
  const std::u16string mapKey = sysenv::toU16(key);
  const std::u16string mapValue = sysenv::toU16(value);
  sysenv::CriticalSectionLock hold(lock_);
  record_->properties[mapKey] = mapValue;
}

void HtmlExternal::setNumericProperty(const std::wstring& key, std::int32_t value) {
  setProperty(key, std::to_wstring(value));
}

std::wstring HtmlExternal::property(const std::wstring& key) {
  const std::u16string mapKey = sysenv::toU16(key);
  sysenv::CriticalSectionLock hold(lock_);
  return sysenv::toWide(record_->properties[mapKey]);
}

void HtmlExternal::recordError(std::int32_t wrapperError, std::int32_t msiError) {
  sysenv::CriticalSectionLock hold(lock_);
  record_->wrapperError = wrapperError;
  record_->msiError = msiError;
}

void HtmlExternal::recordTrustFailure(std::int32_t stage, std::int32_t code) {
  sysenv::CriticalSectionLock hold(lock_);
  record_->wrapperError = stage;
  record_->msiError = code;
  trustFailureRecorded_ = true;
}

void HtmlExternal::recordJobError(std::int32_t wrapperError, std::int32_t msiError) {
  sysenv::CriticalSectionLock hold(lock_);
  if (trustFailureRecorded_) return;
  record_->wrapperError = wrapperError;
  record_->msiError = msiError;
}

std::int32_t HtmlExternal::InstallPackage(const std::wstring&, const std::wstring&) { return 2; }

bool HtmlExternal::GetInstalledStartProgram(std::wstring&) { return false; }

}  // namespace downloadmanagercore
