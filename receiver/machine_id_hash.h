// Machine ids kept only as a keyed hash: "H-" and the first 32 hex digits of HMAC-SHA256 under a
// key the vendor keeps. The same machine still groups its runs and dumps; the id itself is not kept.
#pragma once

#include <optional>
#include <string>

namespace receiver {

std::string keyedMachineId(const std::string& key, const std::string& machineId);

// The key in `path` (made with 32 random bytes, mode 0600, when absent); nothing on failure.
std::optional<std::string> loadOrCreateKey(const std::string& path, std::string& error);

}  // namespace receiver
