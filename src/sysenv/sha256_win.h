// Win32 code. SHA-256 from Windows itself (CNG, bcrypt.dll from System32), fed piece by piece, so
// that a download can be hashed while it is written.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sysenv {

class Sha256 {
 public:
  // Check ok() before use: CNG may be missing or refuse the algorithm.
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  bool ok() const { return hash_ != nullptr && !failed_; }
  void update(const void* data, std::size_t size);
  // The digest of everything given so far; nothing when CNG failed at any step. Once only.
  std::optional<std::array<std::uint8_t, 32>> finish();

 private:
  void* algorithm_ = nullptr;  // BCRYPT_ALG_HANDLE
  void* hash_ = nullptr;       // BCRYPT_HASH_HANDLE
  std::vector<unsigned char> hashObject_;
  bool failed_ = false;
};

}  // namespace sysenv
