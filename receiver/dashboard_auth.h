// The dashboard's password: HTTP Basic authentication with the user "vendor" and a password kept in
// a file that only its owner can read, made at first start with a random password.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace receiver {

inline constexpr char kDashboardUser[] = "vendor";

// The password in `path`; made with 24 random characters (mode 0600, never overwritten) when the
// file is absent. Nothing, with `error` set, when the file cannot be made or read, is empty, or can
// be read by anyone but its owner.
std::optional<std::string> loadOrCreatePassword(const std::string& path, std::string& error);

// Standard base64 decoding with padding; nothing for anything else.
std::optional<std::string> decodeBase64(std::string_view text);

// Whether an Authorization header value carries "vendor" and `password`; compares in constant time.
bool authorizes(std::string_view header, const std::string& password);

}  // namespace receiver
