#include "receiver/text_rules.h"

namespace receiver {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isUpperHex(char c) { return isDigit(c) || (c >= 'A' && c <= 'F'); }
bool isLetterOrDigit(char c) { return isDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The 8-4-4-4-12 pattern: dashes at 8, 13, 18 and 23, `body` for every other character.
template <typename BodyRule>
bool isGuidPattern(std::string_view text, BodyRule body) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !body(text[i])) return false;
  }
  return true;
}

}  // namespace

bool isPlaceholderToken(std::string_view text) {
  return isGuidPattern(text, [](char c) { return c == 'X'; });
}

bool isRequestToken(std::string_view text) { return isGuidPattern(text, isUpperHex) || isPlaceholderToken(text); }

bool isMachineId(std::string_view text) {
  if (text.size() != 38 || text[1] != '-') return false;
  if (text[0] != 'P' && text[0] != 'V' && text[0] != 'X') return false;
  return isGuidPattern(text.substr(2), isLetterOrDigit);
}

std::optional<std::uint32_t> parseUint32(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  if (text.size() > 1 && text[0] == '0') return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (!isDigit(c)) return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

std::optional<std::int32_t> parseInt32(std::string_view text) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::string_view digits = negative ? text.substr(1) : text;
  const std::optional<std::uint32_t> magnitude = parseUint32(digits);
  if (!magnitude) return std::nullopt;
  if (negative) {
    if (*magnitude == 0 || *magnitude > 0x80000000u) return std::nullopt;
    return static_cast<std::int32_t>(-static_cast<std::int64_t>(*magnitude));
  }
  if (*magnitude > 0x7FFFFFFFu) return std::nullopt;
  return static_cast<std::int32_t>(*magnitude);
}

bool isCleanUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      if ((lead < 0x20 && lead != '\t') || lead == 0x7F) return false;
      ++i;
      continue;
    }
    std::size_t length = 0;
    std::uint32_t point = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      point = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    const std::uint32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (point < smallest || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
    // C1 controls are as invisible on a page as C0 ones.
    if (point >= 0x80 && point <= 0x9F) return false;
    i += length;
  }
  return true;
}

bool isAsciiWord(std::string_view text, std::string_view extra, std::size_t minimum, std::size_t maximum) {
  if (text.size() < minimum || text.size() > maximum) return false;
  for (const char c : text) {
    if (!isLetterOrDigit(c) && extra.find(c) == std::string_view::npos) return false;
  }
  return true;
}

}  // namespace receiver

namespace receiver {

std::string toCleanText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      out.push_back(lead < 0x20 || lead == 0x7F ? ' ' : static_cast<char>(lead));
      ++i;
      continue;
    }
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    const std::string_view candidate = bytes.substr(i, length);
    if (length > 1 && candidate.size() == length && isCleanUtf8(candidate)) {
      out.append(candidate);
      i += length;
    } else {
      out.append("\xEF\xBF\xBD");
      ++i;
    }
  }
  return out;
}

}  // namespace receiver
