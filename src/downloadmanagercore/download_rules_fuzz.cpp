// libFuzzer target: the input is one download as the rules see it: the HTTP status of the answer,
// the HRESULT the transfer stopped with, the file position and length at the stop, the free space,
// the connection check, a progress count, a Win32 error, the answer to a range request, and the
// data-seen flags of the attempts.
// HRESULTs are drawn from the ones the engine meets as often as from the whole 32-bit range.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "downloadmanagercore/download_rules.h"
#include "downloadmanagercore/package_answer.h"
#include "downloadmanagercore/resume_rules.h"

namespace dmc = downloadmanagercore;

namespace {

constexpr std::uint32_t kKnownResults[] = {
    dmc::kHresultOk,           dmc::kHresultShort,          dmc::kHresultPending,
    dmc::kHresultAbort,        dmc::kInetObjectNotFound,    dmc::kInetResourceNotFound,
    dmc::kInetDownloadFailure, dmc::kInetConnectionTimeout, dmc::kHresultDiskFull,
    dmc::kHttpStatusFacilityBase | 500, dmc::kHttpStatusFacilityBase | 404, dmc::kHttpStatusFacilityBase,
    0x80070005 /* E_ACCESSDENIED */,   0x800C0007 /* INET_E_DATA_NOT_AVAILABLE */, dmc::kHresultNotAPackage,
};

std::uint32_t consumeResult(FuzzedDataProvider& input) {
  if (input.ConsumeBool()) return input.PickValueInArray(kKnownResults);
  return input.ConsumeIntegral<std::uint32_t>();
}

dmc::FreeSpace consumeFreeSpace(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: return dmc::FreeSpace::kNone;
    case 1: return dmc::FreeSpace::kSome;
    default: return dmc::FreeSpace::kUnknown;
  }
}

bool isPageResult(std::int32_t result) {
  return result >= dmc::kDownloadSucceeded && result <= dmc::kDownloadServerNotFound;
}

bool isRetriedHttpStatus(std::uint32_t status) {
  return (status >= 500 && status <= 599) || status == 408 || status == 429;
}

void checkMapping(std::uint32_t hresult, dmc::FreeSpace freeSpace) {
  const std::int32_t result = dmc::mapTransferResult(hresult, freeSpace);
  // "No network" comes only from the connection check.
  if (!isPageResult(result) || result == dmc::kDownloadNoNetwork) std::abort();
  if ((result == dmc::kDownloadSucceeded) != (hresult == dmc::kHresultOk)) std::abort();
  if ((result == dmc::kDownloadObjectNotFound) != (hresult == dmc::kInetObjectNotFound)) std::abort();
  if ((result == dmc::kDownloadNotAPackage) != (hresult == dmc::kHresultNotAPackage)) std::abort();
  if (result == dmc::kDownloadDiskFull && hresult != dmc::kHresultDiskFull && hresult != dmc::kInetDownloadFailure) {
    std::abort();
  }
  // Free space matters to one outcome only, and an unknown amount counts as some.
  const std::int32_t withSome = dmc::mapTransferResult(hresult, dmc::FreeSpace::kSome);
  if (dmc::mapTransferResult(hresult, dmc::FreeSpace::kUnknown) != withSome) std::abort();
  if (!dmc::mappingNeedsFreeSpace(hresult) && dmc::mapTransferResult(hresult, dmc::FreeSpace::kNone) != withSome) {
    std::abort();
  }
  // The connection check leaves the result alone when connected, and only ever turns the two
  // outcomes that a missing network can explain into "no network".
  const std::int32_t offline = dmc::applyConnectionCheck(result, false);
  if (dmc::applyConnectionCheck(result, true) != result) std::abort();
  const bool explainedByNetwork = result == dmc::kDownloadObjectNotFound || result == dmc::kDownloadTransient;
  if (dmc::needsConnectionCheck(result) != explainedByNetwork) std::abort();
  if (offline != (dmc::needsConnectionCheck(result) ? dmc::kDownloadNoNetwork : result)) std::abort();
}

void checkHttpStatus(std::uint32_t status) {
  const std::uint32_t hresult = dmc::httpStatusResult(status);
  // Only an answer with a status below 300 is the package; no answer at all is a broken connection,
  // a redirect that reaches the answer is one that was not followed.
  if ((hresult == dmc::kHresultOk) != (status >= 1 && status < 300)) std::abort();
  if (status == 0 && hresult != dmc::kInetDownloadFailure) std::abort();
  if (status >= 300 && status < 400 && hresult != dmc::kInetRedirectFailed) std::abort();
  if (status < 400) return;
  // An error status never lets the data through, whatever the free space.
  const std::int32_t result = dmc::mapTransferResult(hresult, dmc::FreeSpace::kSome);
  if (hresult == dmc::kHresultOk || result == dmc::kDownloadSucceeded) std::abort();
  if (status == 404 || status == 410) {
    if (result != dmc::kDownloadObjectNotFound) std::abort();
  } else if (status <= 999) {
    // A real (three-digit) status travels in the low word and is retried only when worth it.
    if ((hresult & 0xFFFFu) != status || (hresult & 0x80000000u) == 0) std::abort();
    if ((result == dmc::kDownloadTransient) != isRetriedHttpStatus(status)) std::abort();
    // A proxy's demand for a sign-in is the one status with a result of its own.
    if ((result == dmc::kDownloadProxySignIn) != (status == 407)) std::abort();
    if (result != dmc::kDownloadTransient && result != dmc::kDownloadFailed && status != 407) std::abort();
  }
}

void checkStop(std::uint32_t hresult, bool known, std::uint64_t position, std::uint64_t size) {
  const std::uint32_t settled = dmc::settleStopResult(hresult, known, position, size);
  if (hresult != dmc::kHresultOk) {
    if (settled != hresult) std::abort();  // a failure is never turned into anything else
  } else if (settled != ((known && position != size) ? dmc::kHresultShort : dmc::kHresultOk)) {
    std::abort();
  }
}

void checkProgress(std::uint32_t count) {
  const std::int32_t value = dmc::progressValue(count);
  // The signed reading keeps every bit and is negative exactly when the top bit is set.
  if (static_cast<std::uint32_t>(value) != count) std::abort();
  if ((value < 0) != (count > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))) std::abort();
}

void checkWin32Error(std::uint32_t code) {
  const std::uint32_t hresult = dmc::hresultFromWin32(code);
  if (code == 0 || (code & 0x80000000u) != 0) {
    if (hresult != code) std::abort();
  } else if ((hresult & 0xFFFF0000u) != 0x80070000u || (hresult & 0xFFFFu) != (code & 0xFFFFu)) {
    std::abort();
  }
  // A failed write's error ends the download as "disk full" only for the full disk itself.
  const bool diskFull = dmc::mapTransferResult(hresult, dmc::FreeSpace::kSome) == dmc::kDownloadDiskFull;
  if (diskFull != (hresult == dmc::kHresultDiskFull)) std::abort();
}

// The attempts of one download, each ending transient after some bytes of the package, until the
// budget refuses another (the engine then gives up). Only a run of attempts that get no further than
// the furthest one before them uses it up.
void checkBudget(FuzzedDataProvider& input) {
  dmc::AttemptBudget budget;
  int withoutProgress = 0;
  std::uint64_t furthest = 0;
  for (int attempt = 0; attempt < 64 && input.remaining_bytes() > 0; ++attempt) {
    const std::uint64_t bytes = input.ConsumeIntegralInRange<std::uint64_t>(0, 4096);
    withoutProgress = bytes > furthest ? 0 : withoutProgress + 1;
    furthest = std::max(furthest, bytes);
    const bool another = budget.allowsRetryAfter(bytes);
    if (another != (withoutProgress < dmc::kAttemptBudget)) std::abort();
    if (budget.remaining() != dmc::kAttemptBudget - withoutProgress) std::abort();
    if (!another) return;
  }
}

// An answer to a range request: its header block (bytes as UTF-16 units), the offset asked for and
// the length of the package as far as it is known. Only the exact rest is ever accepted, and a
// validator is a strong ETag, or Last-Modified where there is no ETag.
void checkResumeAnswer(FuzzedDataProvider& input) {
  const std::string bytes = input.ConsumeRandomLengthString(256);
  const std::u16string headers(bytes.begin(), bytes.end());
  const std::uint64_t offset = input.ConsumeIntegral<std::uint64_t>();
  const std::int64_t knownTotal = input.ConsumeBool() ? -1 : input.ConsumeIntegral<std::int64_t>();
  std::int64_t total = -7;
  if (dmc::continuesPackage(dmc::kHttpStatusPartialContent, headers, offset, knownTotal, &total)) {
    const auto range = dmc::parseContentRange(*dmc::headerValue(headers, u"content-range"));
    if (!range || range->first != offset || range->total != total || total <= 0) std::abort();
    if (static_cast<std::uint64_t>(total) <= offset || (knownTotal >= 0 && total != knownTotal)) std::abort();
  } else if (total != -7) {
    std::abort();
  }
  if (dmc::continuesPackage(200, headers, offset, knownTotal, &total)) std::abort();
  const std::u16string validator = dmc::resumeValidator(headers);
  const auto etag = dmc::headerValue(headers, u"etag");
  if (etag && !validator.empty() && (validator != *etag || validator[0] != u'"')) std::abort();
  if (!etag && validator != dmc::headerValue(headers, u"last-modified").value_or(u"")) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::uint32_t status = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::uint32_t>(0, 999)
                                                   : input.ConsumeIntegral<std::uint32_t>();
  const std::uint32_t stopResult = consumeResult(input);
  const bool known = input.ConsumeBool();
  const std::uint64_t position = input.ConsumeIntegral<std::uint64_t>();
  const std::uint64_t length = input.ConsumeBool() ? position : input.ConsumeIntegral<std::uint64_t>();
  const dmc::FreeSpace freeSpace = consumeFreeSpace(input);
  const bool connected = input.ConsumeBool();
  const std::uint32_t count = input.ConsumeIntegral<std::uint32_t>();
  const std::uint32_t win32Error = input.ConsumeIntegral<std::uint32_t>();

  checkHttpStatus(status);
  checkStop(stopResult, known, position, length);
  checkProgress(count);
  checkWin32Error(win32Error);

  // The attempt as the engine puts it together: an error status wins over what the service
  // reported, and only then is a successful stop checked for a short file.
  const std::uint32_t statusResult = dmc::httpStatusResult(status);
  const std::uint32_t attemptResult =
      statusResult != dmc::kHresultOk ? statusResult : dmc::settleStopResult(stopResult, known, position, length);
  checkMapping(stopResult, freeSpace);
  checkMapping(attemptResult, freeSpace);
  const std::int32_t pageResult =
      dmc::applyConnectionCheck(dmc::mapTransferResult(attemptResult, freeSpace), connected);
  if (!isPageResult(pageResult)) std::abort();
  if (pageResult == dmc::kDownloadSucceeded &&
      (status == 0 || status >= 300 || stopResult != dmc::kHresultOk || (known && position != length))) {
    std::abort();
  }
  // Page results from elsewhere (any 32-bit value) pass the connection check unchanged unless it
  // applies to them.
  const std::int32_t anyResult = input.ConsumeIntegral<std::int32_t>();
  const bool applies = anyResult == dmc::kDownloadObjectNotFound || anyResult == dmc::kDownloadTransient;
  if (dmc::applyConnectionCheck(anyResult, false) != (applies ? dmc::kDownloadNoNetwork : anyResult)) std::abort();

  checkResumeAnswer(input);
  checkBudget(input);
  return 0;
}
