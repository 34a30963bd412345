// Win32 code. The package file of one download attempt: what is written to it, and the rules every
// byte passes on its way there (the signed size, the zip archive's first bytes, the hash).
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "downloadmanagercore/resume_rules.h"
#include "sysenv/sha256_win.h"
#include "sysenv/unique_handle_win.h"

namespace downloadmanagercore {

// SHA-256 of the package as far as it is on disk, kept across attempts so that a resumed package is
// hashed whole; empty when no hash is pinned.
using PackageHasher = std::optional<sysenv::Sha256>;

// The package file for an attempt: the bytes kept at `resume` with the pointer after them when the
// attempt continues the package (and the file still has exactly those bytes), else empty, and
// `resume` then says so.
sysenv::UniqueFileHandle openPackageFile(const std::wstring& path, ResumePoint& resume);

class PackageFile {
 public:
  // `file` holds `base` bytes of the package with its pointer after them. `hasher`, when given, has
  // seen exactly those bytes and receives every byte written, in order. No more than `sizeLimit`
  // bytes are kept; with `zipExpected`, data that does not open a zip archive is refused.
  PackageFile(HANDLE file, std::uint64_t base, PackageHasher* hasher, std::uint64_t sizeLimit, bool zipExpected);

  // How far into the package the file reaches: the bytes kept from earlier attempts (unless the
  // package started over) and those written since.
  std::uint64_t bytes() const { return base_ + written_; }
  // Where this attempt's first byte lies in the package.
  std::uint64_t base() const { return base_; }
  std::uint64_t sizeLimit() const { return sizeLimit_; }

  // The bytes kept from earlier attempts are dropped: the file, the count and the hash start again.
  void startOver();
  // The file takes the announced length at once, so that the space is claimed before the data
  // arrives; whether the volume could extend it shows only when the data is written.
  void claimLength(std::int64_t length);
  // S_OK, or what the attempt ends with: kTransferTooLarge, kHresultNotAPackage, or the write's
  // own error (a full disk).
  HRESULT write(const char* data, ULONG size);
  // Cuts the file off at its pointer: the unwritten part of a claimed length goes.
  void cutAtPointer() { SetEndOfFile(file_); }
  // The pointer and the file's size, when both can be read.
  bool pointerAndSize(std::uint64_t* pointer, std::uint64_t* size) const;

 private:
  HANDLE file_;
  std::uint64_t base_;
  std::uint64_t written_ = 0;
  PackageHasher* hasher_;
  const std::uint64_t sizeLimit_;
  const bool zipExpected_;
  unsigned char start_[4] = {};  // the package's first bytes, as far as they have come
};

}  // namespace downloadmanagercore
