// Win32 code. The package file of one download attempt; see package_file_win.h.
#include "downloadmanagercore/package_file_win.h"

#include <algorithm>

#include "downloadmanagercore/download_rules.h"
#include "downloadmanagercore/package_answer.h"
#include "downloadmanagercore/package_manifest.h"
#include "sysenv/scratch_folder_win.h"
#include "sysenv/write_all_win.h"

namespace downloadmanagercore {

PackageFile::PackageFile(HANDLE file, std::uint64_t base, PackageHasher* hasher, std::uint64_t sizeLimit,
                         bool zipExpected)
    : file_(file), base_(base), hasher_(hasher), sizeLimit_(sizeLimit), zipExpected_(zipExpected) {}

void PackageFile::startOver() {
  base_ = 0;
  SetFilePointerEx(file_, LARGE_INTEGER{}, nullptr, FILE_BEGIN);
  SetEndOfFile(file_);
  if (hasher_ != nullptr) hasher_->emplace();
}

void PackageFile::claimLength(std::int64_t length) {
  LARGE_INTEGER end{};
  end.QuadPart = length;
  if (!SetFilePointerEx(file_, end, nullptr, FILE_BEGIN)) return;
  SetEndOfFile(file_);
  LARGE_INTEGER next{};
  next.QuadPart = static_cast<LONGLONG>(base_);
  SetFilePointerEx(file_, next, nullptr, FILE_BEGIN);
}

HRESULT PackageFile::write(const char* data, ULONG size) {
  // Whatever the server announced, not one byte beyond the signed size is written.
  if (bytes() + size > sizeLimit_) return static_cast<HRESULT>(kTransferTooLarge);
  // The package's first bytes must open a zip archive: anything else is no package, however it
  // was announced, and nothing of it is kept.
  if (zipExpected_ && bytes() < sizeof start_) {
    const std::size_t at = static_cast<std::size_t>(bytes());
    const std::size_t taken = std::min<std::size_t>(sizeof start_ - at, size);
    std::copy(data, data + taken, start_ + at);
    if (judgePackageStart(start_, at + taken) == PackageStart::kNotZip) {
      return static_cast<HRESULT>(kHresultNotAPackage);
    }
  }
  // A short write succeeds and leaves the last-error code as it was: only the write after it
  // says that the volume is full.
  std::size_t written = 0;
  const bool whole = sysenv::writeAll(file_, data, size, &written);
  written_ += written;
  if (hasher_ != nullptr && hasher_->has_value()) (*hasher_)->update(data, written);
  if (whole) return S_OK;
  DWORD error = GetLastError();
  if (error == ERROR_SUCCESS) error = ERROR_DISK_FULL;
  return static_cast<HRESULT>(hresultFromWin32(error));
}

sysenv::UniqueFileHandle openPackageFile(const std::wstring& path, ResumePoint& resume) {
  if (resume.resumes()) {
    sysenv::UniqueFileHandle kept = sysenv::openScratchFile(path, GENERIC_WRITE, 0, OPEN_EXISTING);
    LARGE_INTEGER size{};
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(resume.offset);
    if (kept && GetFileSizeEx(kept.get(), &size) && static_cast<std::uint64_t>(size.QuadPart) == resume.offset &&
        SetFilePointerEx(kept.get(), end, nullptr, FILE_BEGIN)) {
      return kept;
    }
  }
  resume = {};
  return sysenv::openScratchFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
}

bool PackageFile::pointerAndSize(std::uint64_t* pointer, std::uint64_t* size) const {
  LARGE_INTEGER position{};
  LARGE_INTEGER length{};
  if (!SetFilePointerEx(file_, LARGE_INTEGER{}, &position, FILE_CURRENT) || !GetFileSizeEx(file_, &length)) {
    return false;
  }
  *pointer = static_cast<std::uint64_t>(position.QuadPart);
  *size = static_cast<std::uint64_t>(length.QuadPart);
  return true;
}

}  // namespace downloadmanagercore
