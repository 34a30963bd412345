#include "receiver/upload_folder.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "receiver/descriptor.h"

namespace receiver {
namespace {

bool makeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST; }

bool syncFolder(const std::string& path) {
  Descriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return folder.get() >= 0 && ::fsync(folder.get()) == 0;
}

}  // namespace

std::string sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out.push_back(hex[digest[i] >> 4]);
    out.push_back(hex[digest[i] & 15]);
  }
  return out;
}

bool UploadFolder::prepare(std::string& error) const {
  if (makeFolder(root_)) return true;
  error = "cannot make " + root_ + ": " + std::strerror(errno);
  return false;
}

std::string UploadFolder::pathOf(const std::string& hash, const char* extension) const {
  return root_ + "/" + hash.substr(0, 2) + "/" + hash + extension;
}

bool UploadFolder::store(const std::string& hash, const char* extension, std::string_view bytes, bool& created,
                         std::string& error) const {
  created = false;
  const std::string folder = root_ + "/" + hash.substr(0, 2);
  const std::string path = pathOf(hash, extension);
  struct stat existing;
  if (::stat(path.c_str(), &existing) == 0 && static_cast<std::uint64_t>(existing.st_size) == bytes.size()) return true;
  if (!makeFolder(folder)) {
    error = "cannot make " + folder + ": " + std::strerror(errno);
    return false;
  }
  // A name of its own for each writer: two requests with the same bytes may race here.
  const std::string temporary = path + ".part" + std::to_string(::getpid()) + "-" +
                                std::to_string(reinterpret_cast<std::uintptr_t>(&existing));
  Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  bool ok = file.get() >= 0;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const ssize_t written = ::write(file.get(), bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    ok = written > 0;
    if (ok) done += static_cast<std::size_t>(written);
  }
  ok = ok && ::fsync(file.get()) == 0;
  ok = (file.get() >= 0 && file.closeNow()) && ok;
  ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0 && syncFolder(folder);
  if (!ok) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  created = true;
  return true;
}

void UploadFolder::remove(const std::string& hash) const {
  for (const char* extension : {".zip", ".dmp"}) ::unlink(pathOf(hash, extension).c_str());
}

std::int64_t UploadFolder::freeBytes() const {
  struct statvfs info;
  if (::statvfs(root_.c_str(), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
}

}  // namespace receiver
