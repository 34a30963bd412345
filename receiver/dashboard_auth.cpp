#include "receiver/dashboard_auth.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "receiver/descriptor.h"

namespace receiver {
namespace {

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool createPassword(const std::string& path, std::string& error) {
  static const char alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
  unsigned char random[24];
  if (RAND_bytes(random, sizeof random) != 1) {
    error = "no random bytes for the password";
    return false;
  }
  std::string password;
  for (const unsigned char byte : random) password.push_back(alphabet[byte % (sizeof alphabet - 1)]);
  password.push_back('\n');
  Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (file.get() < 0) {
    // Another receiver may have made it just now; reading it decides.
    if (errno == EEXIST) return true;
    error = "cannot make " + path + ": " + std::strerror(errno);
    return false;
  }
  if (::write(file.get(), password.data(), password.size()) != static_cast<ssize_t>(password.size()) ||
      ::fsync(file.get()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> loadOrCreatePassword(const std::string& path, std::string& error) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) {
      error = "cannot read " + path + ": " + std::strerror(errno);
      return std::nullopt;
    }
    if (!createPassword(path, error)) return std::nullopt;
  }
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "cannot read " + path + " as a plain file";
    return std::nullopt;
  }
  if ((info.st_mode & 077) != 0 || info.st_uid != ::geteuid()) {
    error = path + " must belong to this user and be readable by nobody else (chmod 600)";
    return std::nullopt;
  }
  char buffer[256];
  const ssize_t read = ::read(file.get(), buffer, sizeof buffer);
  std::string password(buffer, read > 0 ? static_cast<std::size_t>(read) : 0);
  while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) password.pop_back();
  if (password.empty() || password.find_first_of("\r\n:") != std::string::npos) {
    error = path + " holds no usable password (one line, no colon)";
    return std::nullopt;
  }
  return password;
}

std::optional<std::string> decodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    int values[4];
    int padding = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        values[k] = 0;
        ++padding;
      } else if (padding > 0 || (values[k] = base64Value(c)) < 0) {
        return std::nullopt;
      }
    }
    const unsigned triple = (values[0] << 18) | (values[1] << 12) | (values[2] << 6) | values[3];
    out.push_back(static_cast<char>(triple >> 16));
    if (padding < 2) out.push_back(static_cast<char>((triple >> 8) & 0xFF));
    if (padding < 1) out.push_back(static_cast<char>(triple & 0xFF));
  }
  return out;
}

bool authorizes(std::string_view header, const std::string& password) {
  constexpr std::string_view scheme = "Basic ";
  if (header.size() <= scheme.size() || header.substr(0, scheme.size()) != scheme) return false;
  const std::optional<std::string> credentials = decodeBase64(header.substr(scheme.size()));
  if (!credentials) return false;
  const std::string expected = std::string(kDashboardUser) + ":" + password;
  // The length is no secret worth hiding; the content is compared without an early exit.
  return credentials->size() == expected.size() &&
         CRYPTO_memcmp(credentials->data(), expected.data(), expected.size()) == 0;
}

}  // namespace receiver
