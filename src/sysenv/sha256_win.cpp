// Win32 code.
#include "sysenv/sha256_win.h"

#include <bcrypt.h>

#include "sysenv/system_dll_win.h"

namespace sysenv {

namespace {

// bcrypt.dll is not a Known DLL.
struct CngFunctions {
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithm;
  decltype(&BCryptCloseAlgorithmProvider) closeAlgorithm;
  decltype(&BCryptGetProperty) getProperty;
  decltype(&BCryptCreateHash) createHash;
  decltype(&BCryptHashData) hashData;
  decltype(&BCryptFinishHash) finishHash;
  decltype(&BCryptDestroyHash) destroyHash;
  bool complete() const {
    return openAlgorithm && closeAlgorithm && getProperty && createHash && hashData && finishHash && destroyHash;
  }
};

const CngFunctions& cng() {
  static const CngFunctions functions = {
      systemFunction<decltype(&BCryptOpenAlgorithmProvider)>(L"bcrypt.dll", "BCryptOpenAlgorithmProvider"),
      systemFunction<decltype(&BCryptCloseAlgorithmProvider)>(L"bcrypt.dll", "BCryptCloseAlgorithmProvider"),
      systemFunction<decltype(&BCryptGetProperty)>(L"bcrypt.dll", "BCryptGetProperty"),
      systemFunction<decltype(&BCryptCreateHash)>(L"bcrypt.dll", "BCryptCreateHash"),
      systemFunction<decltype(&BCryptHashData)>(L"bcrypt.dll", "BCryptHashData"),
      systemFunction<decltype(&BCryptFinishHash)>(L"bcrypt.dll", "BCryptFinishHash"),
      systemFunction<decltype(&BCryptDestroyHash)>(L"bcrypt.dll", "BCryptDestroyHash"),
  };
  return functions;
}

bool succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

Sha256::Sha256() {
  const CngFunctions& f = cng();
  if (!f.complete()) return;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!succeeded(f.openAlgorithm(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return;
  algorithm_ = algorithm;
  // Vista wants the hash object's memory from the caller.
  DWORD objectLength = 0;
  ULONG written = 0;
  if (!succeeded(f.getProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                               sizeof objectLength, &written, 0))) {
    return;
  }
  hashObject_.resize(objectLength);
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (succeeded(f.createHash(algorithm, &hash, hashObject_.data(), objectLength, nullptr, 0, 0))) hash_ = hash;
}

Sha256::~Sha256() {
  if (hash_ != nullptr) cng().destroyHash(hash_);
  if (algorithm_ != nullptr) cng().closeAlgorithm(algorithm_, 0);
}

void Sha256::update(const void* data, std::size_t size) {
  if (!ok()) return;
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    if (!succeeded(cng().hashData(hash_, const_cast<PUCHAR>(bytes), piece, 0))) {
      failed_ = true;
      return;
    }
    bytes += piece;
    size -= piece;
  }
}

std::optional<std::array<std::uint8_t, 32>> Sha256::finish() {
  if (!ok()) return std::nullopt;
  std::array<std::uint8_t, 32> digest{};
  failed_ = true;  // a hash handle cannot be finished twice
  if (!succeeded(cng().finishHash(hash_, digest.data(), static_cast<ULONG>(digest.size()), 0))) return std::nullopt;
  return digest;
}

}  // namespace sysenv
