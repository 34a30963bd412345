// A log archive as a failed run uploads it: a zip of the installer's logs and the stub's own log.
// Read from memory with miniz, never unpacked to disk: its entries, and the ERROR lines of the
// stub's log "installer_log.txt".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace receiver {

struct ArchiveEntry {
  std::string name;  // as clean text (names come in the stub's ANSI code page)
  std::uint64_t size = 0;  // uncompressed, as the archive declares it
};

struct LogArchive {
  std::vector<ArchiveEntry> entries;
  std::vector<std::string> errorLines;  // without the line break, as clean text
};

// Limits that keep a hostile archive cheap: entries listed, bytes of the stub's log inflated, ERROR
// lines kept and the length of each.
inline constexpr std::size_t kMaxArchiveEntries = 256;
inline constexpr std::uint64_t kMaxLogBytes = 32ull * 1024 * 1024;
inline constexpr std::size_t kMaxErrorLines = 500;
inline constexpr std::size_t kMaxErrorLineBytes = 2000;

// The stub's own log inside the archive.
inline constexpr char kStubLogName[] = "installer_log.txt";

// The archive's listing, or nothing with `error` set when the bytes are not a zip archive that
// miniz reads (no entry, a bad directory, a stub log that does not inflate to its CRC).
std::optional<LogArchive> readLogArchive(std::string_view bytes, std::string& error);

// The ERROR lines of a log in the stub's format ("[YYYYMMDD HH:MM:SS mmm ERROR] message").
std::vector<std::string> errorLinesOf(std::string_view log);

}  // namespace receiver
