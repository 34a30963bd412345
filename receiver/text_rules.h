// The shapes of the values a report carries: ids, decimal numbers, UTF-8 text. Every value that
// reaches the database or a file name has passed one of these first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace receiver {

// A request token: an uppercase GUID without braces (8-4-4-4-12 of 0-9 and A-F), or the all-"X"
// placeholder that a stub sends when it could not make one.
bool isRequestToken(std::string_view text);
// The all-"X" token placeholder.
bool isPlaceholderToken(std::string_view text);
// A machine id: "P-", "V-" or "X-", then the 8-4-4-4-12 pattern of ASCII letters and digits (an
// adapter address spread over it is not hexadecimal), 38 characters in all.
bool isMachineId(std::string_view text);

// A 32-bit signed integer in plain decimal: an optional "-", no "+", no leading zeros, no blanks,
// no "-0". Nothing for anything else, an overflow included.
std::optional<std::int32_t> parseInt32(std::string_view text);
// A non-negative decimal of 1 to 10 digits without leading zeros that fits 32 bits unsigned.
std::optional<std::uint32_t> parseUint32(std::string_view text);

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) without control
// characters other than tab: text that a database column and a page can hold as it is.
bool isCleanUtf8(std::string_view text);

// ASCII letters, digits and the characters in `extra`, `minimum` to `maximum` of them.
bool isAsciiWord(std::string_view text, std::string_view extra, std::size_t minimum, std::size_t maximum);

}  // namespace receiver

namespace receiver {

// `bytes` as text that isCleanUtf8 accepts: well-formed UTF-8 sequences kept, every other byte
// replaced by U+FFFD, control characters (tab included) by a blank. For what a client sends that is
// shown rather than judged: zip item names in a code page, log lines.
std::string toCleanText(std::string_view bytes);

}  // namespace receiver
