#include "payload/language_list.h"

namespace payload {

std::vector<std::u16string> scanLanguageList(const std::string& utf8Bytes) {
  std::vector<std::u16string> list;
  std::u16string text;
  if (!decodeUtf8(utf8Bytes, text)) return list;
  const std::size_t match = text.find(u"\"LANG\"");
  if (match == std::u16string::npos) return list;

  bool inside = false;
  std::size_t start = 0;
  for (std::size_t i = match + 7; i < text.size() && text[i] != u']'; ++i) {
    if (text[i] != u'"') continue;
    if (inside) {
      list.push_back(text.substr(start, i - start));
    } else {
      start = i + 1;
    }
    inside = !inside;
  }
  return list;
}

}  // namespace payload
