#include "receiver/machine_id_hash.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "receiver/dashboard_auth.h"

namespace receiver {

std::string keyedMachineId(const std::string& key, const std::string& machineId) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(machineId.data()),
       machineId.size(), digest, &length);
  static const char hex[] = "0123456789abcdef";
  std::string out = "H-";
  for (unsigned int i = 0; i < 16 && i < length; ++i) {
    out.push_back(hex[digest[i] >> 4]);
    out.push_back(hex[digest[i] & 15]);
  }
  return out;
}

std::optional<std::string> loadOrCreateKey(const std::string& path, std::string& error) {
  // The password file's rules fit a key as well: random, one line, owner only.
  return loadOrCreatePassword(path, error);
}

}  // namespace receiver
