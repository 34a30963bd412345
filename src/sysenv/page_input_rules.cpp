#include "sysenv/page_input_rules.h"

namespace sysenv {

namespace {

char16_t asciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool startsWithIgnoringCase(const std::u16string& text, const char16_t* prefix) {
  std::size_t i = 0;
  for (; prefix[i] != 0; ++i) {
    if (i >= text.size() || asciiLower(text[i]) != prefix[i]) return false;
  }
  return true;
}

bool equalsIgnoringCase(const std::u16string& text, const char16_t* other) {
  return startsWithIgnoringCase(text, other) && text.size() == std::char_traits<char16_t>::length(other);
}

bool isDeviceName(std::u16string stem) {
  // "CON .lnk" is the device too: Windows drops trailing blanks before it compares.
  while (!stem.empty() && stem.back() == u' ') stem.pop_back();
  static const char16_t* const kDevices[] = {u"con", u"prn", u"aux", u"nul", u"conin$", u"conout$"};
  for (const char16_t* device : kDevices) {
    if (equalsIgnoringCase(stem, device)) return true;
  }
  if (stem.size() == 4 && (startsWithIgnoringCase(stem, u"com") || startsWithIgnoringCase(stem, u"lpt"))) {
    return stem[3] >= u'1' && stem[3] <= u'9';
  }
  return false;
}

bool isHexDigit(char16_t c) { return (c >= u'0' && c <= u'9') || (asciiLower(c) >= u'a' && asciiLower(c) <= u'f'); }

bool isUriCharacter(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) return true;
  return std::u16string_view(u"-._~:/?#[]@!$&'()*+,;=").find(c) != std::u16string_view::npos;
}

}  // namespace

bool isBareShortcutName(const std::u16string& name) {
  constexpr std::size_t kMaxNameLength = 255;
  static const char16_t kExtension[] = u".lnk";
  if (name.size() <= 4 || name.size() > kMaxNameLength) return false;
  if (!equalsIgnoringCase(name.substr(name.size() - 4), kExtension)) return false;
  for (char16_t c : name) {
    if (c < 0x20 || std::u16string_view(u"\\/:<>\"|?*").find(c) != std::u16string_view::npos) return false;
  }
  if (name.find(u"..") != std::u16string::npos) return false;
  return !isDeviceName(name.substr(0, name.find(u'.')));
}

bool isWebPageUrl(const std::u16string& url) {
  std::size_t rest = 0;
  if (startsWithIgnoringCase(url, u"http://")) {
    rest = 7;
  } else if (startsWithIgnoringCase(url, u"https://")) {
    rest = 8;
  } else {
    return false;
  }
  // A host must follow: "http:///x" and "http://?x" name none.
  if (rest >= url.size() || std::u16string_view(u"/?#@").find(url[rest]) != std::u16string_view::npos) return false;
  for (std::size_t i = 0; i < url.size(); ++i) {
    if (url[i] == u'%') {
      if (i + 2 >= url.size() || !isHexDigit(url[i + 1]) || !isHexDigit(url[i + 2])) return false;
      i += 2;
    } else if (!isUriCharacter(url[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace sysenv
