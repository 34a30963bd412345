#include "receiver/log_archive.h"

#include <miniz.h>

#include <cstring>

#include "receiver/text_rules.h"

namespace receiver {
namespace {

// Owns a miniz reader over memory: ended on every path.
class ZipReader {
 public:
  ZipReader(const void* data, std::size_t size) {
    std::memset(&zip_, 0, sizeof zip_);
    open_ = mz_zip_reader_init_mem(&zip_, data, size, 0) != 0;
  }
  ~ZipReader() {
    if (open_) mz_zip_reader_end(&zip_);
  }
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;
  bool open() const { return open_; }
  mz_zip_archive* get() { return &zip_; }

 private:
  mz_zip_archive zip_;
  bool open_ = false;
};

bool sameNameIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    const char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
    const char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b + 32) : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

}  // namespace

std::vector<std::string> errorLinesOf(std::string_view log) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < log.size() && lines.size() < kMaxErrorLines) {
    std::size_t end = log.find('\n', start);
    if (end == std::string_view::npos) end = log.size();
    std::string_view line = log.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // The level closes the bracketed prefix: "[20261209 18:20:39 123 ERROR] ...".
    const std::size_t close = line.find("] ");
    if (!line.empty() && line.front() == '[' && close != std::string_view::npos && close >= 6 &&
        line.substr(close - 6, 6) == " ERROR") {
      lines.push_back(toCleanText(line.substr(0, kMaxErrorLineBytes)));
    }
    start = end + 1;
  }
  return lines;
}

std::optional<LogArchive> readLogArchive(std::string_view bytes, std::string& error) {
  // A local file header first: what the stub's writer always makes. miniz alone would also take
  // bytes that merely end in a zip directory.
  if (bytes.size() < 30 || bytes.substr(0, 4) != std::string_view("PK\x03\x04", 4)) {
    error = "not a zip archive";
    return std::nullopt;
  }
  ZipReader zip(bytes.data(), bytes.size());
  if (!zip.open()) {
    error = "not a zip archive that can be read";
    return std::nullopt;
  }
  const mz_uint count = mz_zip_reader_get_num_files(zip.get());
  if (count == 0 || count > kMaxArchiveEntries) {
    error = count == 0 ? "an archive without entries" : "too many entries";
    return std::nullopt;
  }
  LogArchive archive;
  int stubLog = -1;
  for (mz_uint i = 0; i < count; ++i) {
    mz_zip_archive_file_stat stat;
    if (!mz_zip_reader_file_stat(zip.get(), i, &stat)) {
      error = "an unreadable directory entry";
      return std::nullopt;
    }
    archive.entries.push_back({toCleanText(stat.m_filename), stat.m_uncomp_size});
    if (stubLog < 0 && !stat.m_is_directory && sameNameIgnoringCase(stat.m_filename, kStubLogName)) {
      if (stat.m_uncomp_size > kMaxLogBytes) {
        error = "the stub's log is larger than the receiver reads";
        return std::nullopt;
      }
      stubLog = static_cast<int>(i);
    }
  }
  if (stubLog >= 0) {
    std::size_t size = 0;
    // miniz stops at the declared size and checks the CRC: a lying entry fails here.
    void* log = mz_zip_reader_extract_to_heap(zip.get(), static_cast<mz_uint>(stubLog), &size, 0);
    if (!log) {
      error = "the stub's log does not inflate";
      return std::nullopt;
    }
    archive.errorLines = errorLinesOf(std::string_view(static_cast<const char*>(log), size));
    mz_free(log);
  }
  return archive;
}

}  // namespace receiver
