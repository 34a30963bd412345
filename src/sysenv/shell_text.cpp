#include "sysenv/shell_text.h"

namespace sysenv {

std::u16string escapeAmpersandsForShell(const std::u16string& url) {
  std::u16string escaped;
  escaped.reserve(url.size());
  for (char16_t c : url) {
    if (c == u'&') escaped += u'^';
    escaped += c;
  }
  return escaped;
}

std::u16string tickFolderName(std::uint32_t tickCount) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  std::u16string name;
  do {
    name.insert(name.begin(), kDigits[tickCount & 0xF]);
    tickCount >>= 4;
  } while (tickCount != 0);
  return name;
}

}  // namespace sysenv
