#include "sysenv/utf8_text.h"

namespace sysenv {

bool decodeUtf8(const std::string& bytes, std::u16string& text) {
  std::u16string out;
  out.reserve(bytes.size());
  const std::size_t length = bytes.size();
  std::size_t i = 0;
  while (i < length) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    std::size_t count;  // continuation bytes
    char32_t value;
    char32_t minimum;  // smallest value that needs this many bytes; below it the form is overlong
    if (lead >= 0xC2 && lead <= 0xDF) {
      count = 1, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      count = 2, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      count = 3, value = lead & 0x07, minimum = 0x10000;
    } else {
      return false;  // a continuation byte without a lead, 0xC0/0xC1 (always overlong), or 0xF5 and up
    }
    if (length - i <= count) return false;
    for (std::size_t k = 1; k <= count; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    if (value >= 0x10000) {
      value -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(value));
    }
    i += count + 1;
  }
  text = std::move(out);
  return true;
}

}  // namespace sysenv
