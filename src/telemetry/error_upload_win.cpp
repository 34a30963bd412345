// Win32 code. The log archive of a failed run and the crash dump, sent to the error endpoint.
#include "telemetry/error_upload_win.h"

#include <windows.h>

#include <memory>
#include <new>

#include "sysenv/scope_exit.h"
#include "sysenv/scratch_folder_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/wide_text_win.h"
#include "telemetry/analytics_win.h"
#include "telemetry/machine_id_win.h"
#include "telemetry/report_transport_win.h"
#include "zip/zip_writer_win.h"

namespace downloadmanagercore {

namespace {

constexpr wchar_t kLogArchiveName[] = L"log.zip";

}  // namespace

void Analytics::uploadLogArchive() {
  std::wstring folder;
  if (!sysenv::createScratchFolder(folder)) return;
  // The archive holds the user's logs: it goes whether or not the server took it.
  const sysenv::ScopeExit removeFolder([&folder] { sysenv::deleteFolderTree(folder); });

  // The folder ends in a backslash. A missing or unreadable log is simply not in the archive; when
  // none could be added there is no archive, and the upload below finds nothing to send.
  const std::wstring archive = folder + kLogArchiveName;
  for (const std::wstring& logFile : logFiles_) zip::AddFileToZip(logFile, archive);
  telemetry::uploadReportFile(archive, sysenv::toWide(properties_->requestToken),
                              sysenv::toWide(properties_->machineId));
}

}  // namespace downloadmanagercore

namespace telemetry {

namespace {

constexpr wchar_t kReportErrorPath[] = L"/v1/reportError";

}  // namespace

bool uploadReportFile(const std::wstring& path, const std::wstring& token, const std::wstring& machineId) {
  // The archive and the dump are made in a new folder of our own (the logs they hold were read
  // without following links), so the file is opened as it is.
  const sysenv::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD sizeHigh = 0;
  const DWORD size = ::GetFileSize(file.get(), &sizeHigh);
  if (size == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return false;
  // The request carries a 32-bit length: the low half alone would send the file's head as if it
  // were the whole file.
  if (sizeHigh != 0) return false;

  // A dump can be large and this may run inside a crashed process: no allocation may throw here.
  std::unique_ptr<char[]> body(new (std::nothrow) char[size == 0 ? 1 : size]);
  if (!body) return false;
  // The size is only what the file held a moment ago; what the read delivers is what goes out, so
  // a file that shrank (or a special file that claims more than it holds) never sends stale bytes.
  DWORD bytesRead = 0;
  if (!::ReadFile(file.get(), body.get(), size, &bytesRead, nullptr)) return false;

  // The token and id hold only letters, digits and "-": nothing to encode.
  const std::wstring target = std::wstring(kReportErrorPath) + L"?token=" + token + L"&machineId=" + machineId;
  return sendReportRequest(body.get(), bytesRead, target, L"PUT");
}

void uploadCrashDump(const std::wstring& dumpPath) { uploadReportFile(dumpPath, L"", getMachineId()); }

}  // namespace telemetry
