#include "sysenv/hex_text.h"

namespace sysenv {

std::u16string hexBytes(const std::uint8_t* bytes, std::size_t length) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  std::u16string text;
  text.reserve(length * 2);
  for (std::size_t i = 0; i < length; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0xF]);
  }
  return text;
}

}  // namespace sysenv
