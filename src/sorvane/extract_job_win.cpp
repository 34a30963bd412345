// Win32 code. The extraction step of the product's script object: the `extract` command, its worker,
// and the unpacking of the downloaded package into the work folder, with the progress the page polls.
#include <windows.h>

#include <memory>
#include <utility>

#include "downloadmanagercore/command_job_win.h"
#include "downloadmanagercore/download_rules.h"
#include "sorvane/file_tree_win.h"
#include "sorvane/sorvane_external_win.h"
#include "sysenv/scratch_folder_win.h"
#include "sysenv/unique_handle_win.h"
#include "zip/unzip_win.h"

namespace sorvane {

namespace {
constexpr std::int32_t kExtracted = 0;
constexpr std::int32_t kExtractFailed = 1;
constexpr std::int32_t kExtractDiskFull = 2;
constexpr std::int32_t kNoInstaller = 3;
// The stages of the error pair.
constexpr std::int32_t kUnpackStage = 4;
constexpr std::int32_t kInstallerMissingStage = 5;
}  // namespace

class SorvaneExternal::ExtractJob final : public downloadmanagercore::CommandJob {
 public:
  ExtractJob(SorvaneExternal* owner, downloadmanagercore::RunningClaim claim)
      : CommandJob(owner, owner->logger(), L"ExtractThreadFunc", std::move(claim)), owner_(owner) {}

 private:
  void run(IDispatch* callback) override {
    const std::int32_t result = owner_->ExtractPackage(owner_->downloadPath());
    owner_->logger()->debug(L"Extract result %d.", static_cast<int>(result));
    callBack(callback, result);
  }

  SorvaneExternal* owner_;
};

DWORD WINAPI SorvaneExternal::ExtractThreadFunc(LPVOID job) { return htmlui::runScriptJob(job); }

HRESULT SorvaneExternal::extract(WORD flags, DISPPARAMS* params, VARIANT*) {
  static constexpr downloadmanagercore::CommandSignature kSignature = {
      downloadmanagercore::kCallAsStatement, 1, {downloadmanagercore::kVtDispatch, 0}};
  if (const HRESULT refused = checkCall(kSignature, flags, params); FAILED(refused)) return refused;
  logger()->debug(L"QJExtractPackage");
  downloadmanagercore::RunningClaim claim = downloadmanagercore::RunningClaim::take(extractRunning_);
  if (!claim) {
    logger()->error(L"QJExtractPackage: an extraction is already running");
    return HRESULT_FROM_WIN32(ERROR_BUSY);
  }
  auto job = std::make_unique<ExtractJob>(this, std::move(claim));
  const HRESULT hr = job->marshalCallback(params->rgvarg[0].pdispVal);
  if (FAILED(hr)) {
    logger()->debug(L"QJExtractPackage: CoMarshalInterThreadInterfaceInStream failed with %x",
                    static_cast<unsigned>(hr));
    return hr;
  }
  return startJob(std::move(job), &ExtractThreadFunc, L"QJExtractPackage");
}

std::int32_t SorvaneExternal::ExtractPackage(const std::wstring& packagePath) {
  // A failure that the reader does not explain must not carry the code of an earlier extraction.
  extractError_ = 0;
  bool unpacked = false;
  // Without a work folder the items would land in whatever the current folder is.
  if (workFolder().empty()) {
    logger()->error(L"QJExtractPackage: no work folder");
  } else {
    const sysenv::UniqueFileHandle package =
        sysenv::openScratchFile(packagePath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (package) unpacked = zip::UnzipToFolder(package.get(), workFolder(), this);
  }
  if (unpacked) {
    std::wstring installerFolder;
    if (FindFileInTree(workFolder(), L"setup.exe", installerFolder)) return kExtracted;
    recordError(kInstallerMissingStage, 0);
    logger()->debug(L"Can not find setup.exe, unzip path : %s", workFolder().c_str());
    return kNoInstaller;
  }
  const std::uint32_t code = extractError_;
  recordError(kUnpackStage, static_cast<std::int32_t>(code));
  // The format's own line break leaves an empty line after it in the log.
  logger()->debug(L"Unzip failed, package_path: %s, unzip to: %s\n", packagePath.c_str(), workFolder().c_str());
  return code == ERROR_DISK_FULL ? kExtractDiskFull : kExtractFailed;
}

void SorvaneExternal::ReportProgress(std::uint32_t done, std::uint32_t total) {
  setNumericProperty(L"extractProgress", downloadmanagercore::progressPercent(done, total));
}

void SorvaneExternal::ReportError(std::uint32_t code) { extractError_ = code; }

}  // namespace sorvane
