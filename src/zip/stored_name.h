// How a zip item's stored name is to be read. Archivers write non-ASCII names in UTF-8 and say so
// either with the language-encoding flag or with an Info-ZIP Unicode Path extra field. Info-ZIP's zip
// 3.0 on Unix says neither: it stores the file system's bytes, which are UTF-8 there. Only what is
// left is in the ANSI code page of the machine that made the archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zip {

// The fixed part of a central directory header, before the name, the extra field and the comment.
constexpr std::size_t kCentralHeaderSize = 46;

// The "version made by" host of an archive written on Unix (also what macOS tools write).
constexpr std::uint8_t kHostUnix = 3;

struct CentralHeaderFields {
  std::uint8_t host = 0;    // the high byte of "version made by": the system that wrote the item
  std::uint16_t flags = 0;  // the general-purpose bit flags
  std::uint16_t nameLength = 0;
  std::uint16_t extraLength = 0;
};

// Reads the fixed part of a central directory header from its first kCentralHeaderSize bytes. False
// when fewer bytes are given or they do not start with the header's signature.
bool parseCentralHeader(const std::string& bytes, CentralHeaderFields& fields);

// The UTF-8 name that an Info-ZIP Unicode Path extra field (tag 0x7075, version 1) in `extraField`
// gives for the item whose stored name is `rawName`: the first such field counts, and only when the
// CRC-32 it carries is that of `rawName` (otherwise the name was changed by a tool that did not know
// the field, which is then stale). No value when there is no such field, it is of another version,
// its CRC-32 differs, or its name is empty. A record that runs past the end of the extra field ends
// the search.
std::optional<std::string> unicodePathName(const std::string& extraField, const std::string& rawName);

// The bytes that name an item and how they are read.
struct StoredName {
  bool utf8 = false;  // UTF-8; otherwise the ANSI code page
  std::string bytes;
};

// In this order: the language-encoding flag (general-purpose bit 11) makes the raw name UTF-8; a
// matching Unicode Path extra field gives the UTF-8 name; a raw name written on Unix that is valid
// UTF-8 and not plain ASCII is UTF-8 (a name in a legacy code page rarely is, and an ASCII name reads
// the same either way); any other raw name is in the ANSI code page.
StoredName chooseStoredName(const CentralHeaderFields& fields, const std::string& rawName,
                            const std::string& extraField);

// A UTF-8 item name in UTF-16. No value when the bytes are not strict UTF-8 or hold a NUL: such a
// name is refused, never guessed at in another encoding.
std::optional<std::u16string> decodeUtf8ItemName(const std::string& bytes);

}  // namespace zip
