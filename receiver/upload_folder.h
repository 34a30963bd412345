// The folder of uploaded files, each named by the SHA-256 of its bytes ("ab/abcdef....zip" or
// ".dmp"): the same archive twice is one file. A file is written under a temporary name, synced and
// renamed, so that a name always stands for whole content, before the database row that refers to
// it is committed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace receiver {

// Lowercase hex SHA-256 of `bytes`.
std::string sha256Hex(std::string_view bytes);

class UploadFolder {
 public:
  explicit UploadFolder(std::string root) : root_(std::move(root)) {}
  // Makes the folder if needed; false when it cannot be made.
  bool prepare(std::string& error) const;
  // Stores `bytes` under `hash` with `extension`; `created` says whether the file is new. False when
  // it could not be written whole.
  bool store(const std::string& hash, const char* extension, std::string_view bytes, bool& created,
             std::string& error) const;
  // Removes the file of `hash` with either extension; a missing file is no failure.
  void remove(const std::string& hash) const;
  // Free bytes for an unprivileged writer on the folder's file system, or -1.
  std::int64_t freeBytes() const;
  std::string pathOf(const std::string& hash, const char* extension) const;

 private:
  std::string root_;
};

}  // namespace receiver
