// Win32 code. The manifest step of DownloadPackage: the package's signed manifest is downloaded
// through the same engine as the package (into the work folder, at most kManifestSizeLimit bytes),
// read back through a handle that refuses links, verified with crypt32 and judged by
// manifestRefusal. A refusal ends the download at once: another attempt would fetch the same
// manifest.
#include <windows.h>

#include <shlwapi.h>

#include <string>
#include <vector>

#include "downloadmanagercore/download_rules.h"
#include "downloadmanagercore/html_external_win.h"
#include "downloadmanagercore/manifest_signature_win.h"
#include "downloadmanagercore/package_manifest.h"
#include "sysenv/scratch_folder_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/wide_text_win.h"

namespace downloadmanagercore {

namespace {

// The whole file, up to the manifest limit; nothing when it cannot be read.
std::optional<std::vector<std::uint8_t>> readManifestFile(const std::wstring& path) {
  const sysenv::UniqueFileHandle file = sysenv::openScratchFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<std::uint64_t>(size.QuadPart) > kManifestSizeLimit) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  if (!bytes.empty() && (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                         read != bytes.size())) {
    return std::nullopt;
  }
  return bytes;
}

// Seconds since 1970-01-01 UTC.
std::int64_t unixTimeNow() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  constexpr std::uint64_t kTicksTo1970 = 116444736000000000ull;
  return static_cast<std::int64_t>((ticks - kTicksTo1970) / 10000000ull);
}

}  // namespace

std::int32_t HtmlExternal::fetchPackageManifest(const std::wstring& packageUrl, PackageManifest* manifest) {
  const std::wstring url = packageUrl + sysenv::toWide(kManifestSuffix);
  const std::wstring path = workFolder_ + PathFindFileNameW(url.c_str());
  logger_->debug(L"Download manifest: %s", url.c_str());
  const std::int32_t code = downloadFile(url, path, std::nullopt, kManifestSizeLimit, false);
  if (code != kDownloadSucceeded) {
    logger_->error(L"Package manifest not downloaded (%d): %s", static_cast<int>(code), url.c_str());
    return code;
  }
  const std::optional<std::vector<std::uint8_t>> message = readManifestFile(path);
  DeleteFileW(path.c_str());
  const ManifestSignature signature =
      message ? verifyManifestSignature(*message) : ManifestSignature{hresultFromWin32(ERROR_INVALID_DATA), {}, {}};
  std::uint32_t refusal = signature.result;
  std::u16string line;
  if (refusal != 0) {
    line = manifestSignatureLine(refusal);
  } else {
    const std::string packageName = sysenv::toUtf8(PathFindFileNameW(packageUrl.c_str()));
    refusal = manifestRefusal(*manifestPolicy_, signature.signerKey, signature.content, packageName, unixTimeNow(),
                              manifest, &line);
  }
  if (refusal == 0) {
    logger_->debug(L"Package manifest accepted: %s", sysenv::toWide(manifestSummary(*manifest)).c_str());
    return kDownloadSucceeded;
  }
  logger_->error(L"%s", sysenv::toWide(line).c_str());
  recordTrustFailure(kManifestStage, reportCode(refusal));
  return kDownloadFailed;
}

}  // namespace downloadmanagercore
