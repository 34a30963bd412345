#include "htmlui/page_location.h"

#include <string_view>
#include <vector>

namespace htmlui {

namespace {

char16_t asciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }
bool isAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool isSlash(char16_t c) { return c == u'/' || c == u'\\'; }

int hexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (asciiLower(c) >= u'a' && asciiLower(c) <= u'f') return asciiLower(c) - u'a' + 10;
  return -1;
}

// Appends the UTF-8 sequence that starts at bytes[i] as one character and returns its length, or 0
// when no valid sequence starts there.
std::size_t appendUtf8(const std::u16string& bytes, std::size_t i, std::u16string& out) {
  const char16_t lead = bytes[i];
  std::size_t length = 0;
  char32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > bytes.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((bytes[i + k] & 0xC0) != 0x80 || bytes[i + k] > 0xFF) return 0;
    code = (code << 6) | (bytes[i + k] & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  if (code >= 0x10000) {
    code -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (code >> 10));
    out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
  } else {
    out += static_cast<char16_t>(code);
  }
  return length;
}

// %XX escapes decoded. An escaped byte is kept below 0x100 and marked by position, so that only
// escaped bytes are read as UTF-8; characters written as they are stay as they are.
std::optional<std::u16string> decodeEscapes(const std::u16string& text) {
  std::u16string units;    // every character, escapes as their byte value
  std::u16string escaped;  // 1 where the unit came from an escape
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'%') {
      units += text[i];
      escaped += u'\0';
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    units += static_cast<char16_t>(high * 16 + low);
    escaped += u'\1';
    i += 2;
  }
  std::u16string decoded;
  for (std::size_t i = 0; i < units.size();) {
    if (escaped[i] == u'\1' && units[i] >= 0x80) {
      // A run of escaped bytes: UTF-8 where it is, each byte alone where it is not.
      std::size_t run = i;
      while (run < units.size() && escaped[run] == u'\1') ++run;
      const std::u16string bytes = units.substr(i, run - i);
      for (std::size_t k = 0; k < bytes.size();) {
        const std::size_t used = bytes[k] >= 0x80 ? appendUtf8(bytes, k, decoded) : 0;
        if (used == 0) {
          decoded += bytes[k];
          ++k;
        } else {
          k += used;
        }
      }
      i = run;
    } else {
      decoded += units[i];
      ++i;
    }
  }
  return decoded;
}

// "X:\" and then segments that each name one entry of the folder before them.
bool isPlainDrivePath(const std::u16string& path) {
  if (path.size() < 3 || !isAsciiLetter(path[0]) || path[1] != u':' || path[2] != u'\\') return false;
  std::size_t start = 3;
  while (start < path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string::npos) end = path.size();
    const std::u16string_view segment(path.data() + start, end - start);
    if (segment.empty() && end != path.size()) return false;  // "\\" inside
    if (segment == u"." || segment == u"..") return false;
    for (char16_t c : segment) {
      if (c < 0x20 || c == u':') return false;
    }
    start = end + 1;
  }
  return true;
}

}  // namespace

std::optional<std::u16string> localPageLocation(const std::u16string& pathOrUrl) {
  std::u16string path;
  static const char16_t kFileScheme[] = u"file:";
  bool isFileUrl = pathOrUrl.size() >= 5;
  for (std::size_t i = 0; isFileUrl && i < 5; ++i) isFileUrl = asciiLower(pathOrUrl[i]) == kFileScheme[i];
  if (isFileUrl) {
    // What the file is called ends where its query or fragment begins; an escaped "#" is part of it.
    std::u16string rest = pathOrUrl.substr(5, pathOrUrl.find_first_of(u"?#") - 5);
    std::size_t slashes = 0;
    while (slashes < rest.size() && isSlash(rest[slashes])) ++slashes;
    // file:C:/, file:/C:/, file://C:/ and file:///C:/ name a drive; four or more slashes a share.
    if (slashes > 3) return std::nullopt;
    const std::optional<std::u16string> decoded = decodeEscapes(rest.substr(slashes));
    if (!decoded) return std::nullopt;
    path = *decoded;
  } else {
    // Any other scheme ("http:", "about:", "res:") has two letters or more before its colon.
    const std::size_t colon = pathOrUrl.find(u':');
    if (colon != 1) return std::nullopt;
    path = pathOrUrl;
  }
  for (char16_t& c : path) {
    if (c == u'/') c = u'\\';
  }
  if (!isPlainDrivePath(path)) return std::nullopt;
  return path;
}

std::u16string pageFolderOf(const std::u16string& pathOrUrl) {
  const std::optional<std::u16string> path = localPageLocation(pathOrUrl);
  if (!path) return {};
  return path->substr(0, path->rfind(u'\\') + 1);
}

std::optional<std::u16string> resolvePageReference(const std::u16string& reference, const std::u16string& base) {
  if (std::optional<std::u16string> absolute = localPageLocation(reference)) return absolute;
  // A reference with a scheme, or one that starts at a root, is not relative to the document.
  const std::size_t end = reference.find_first_of(u"/\\?#");
  if (reference.find(u':') < end || (!reference.empty() && isSlash(reference[0]))) return std::nullopt;
  const std::u16string folder = pageFolderOf(base);
  if (folder.empty()) return std::nullopt;
  std::optional<std::u16string> relative = decodeEscapes(reference.substr(0, reference.find_first_of(u"?#")));
  if (!relative) return std::nullopt;
  // The folder's segments, then the reference's applied to them one by one.
  std::u16string path = folder.substr(0, 2);
  std::vector<std::u16string> segments;
  for (std::size_t start = 3; start < folder.size();) {
    const std::size_t next = folder.find(u'\\', start);
    segments.push_back(folder.substr(start, next - start));
    start = next + 1;
  }
  for (char16_t& c : *relative) {
    if (c == u'/') c = u'\\';
  }
  std::size_t start = 0;
  bool last = false;
  while (!last) {
    std::size_t next = relative->find(u'\\', start);
    last = next == std::u16string::npos;
    if (last) next = relative->size();
    const std::u16string segment = relative->substr(start, next - start);
    start = next + 1;
    if (segment == u"..") {
      if (segments.empty()) return std::nullopt;
      segments.pop_back();
    } else if (segment != u"." && !(segment.empty() && last)) {
      segments.push_back(segment);
    }
  }
  // A reference of a query or fragment alone ("#top", "?a") is the document itself; one that ends
  // in a folder names no page.
  if (relative->empty()) return localPageLocation(base);
  if (relative->back() == u'\\' || segments.empty()) return std::nullopt;
  for (const std::u16string& segment : segments) path += u"\\" + segment;
  if (!isPlainDrivePath(path)) return std::nullopt;
  return path;
}

bool isInsidePageFolder(const std::u16string& url, const std::u16string& folder, const std::u16string& base) {
  if (folder.empty() || folder.back() != u'\\') return false;
  const std::optional<std::u16string> path = base.empty() ? localPageLocation(url) : resolvePageReference(url, base);
  if (!path || path->size() <= folder.size()) return false;
  for (std::size_t i = 0; i < folder.size(); ++i) {
    if (asciiLower((*path)[i]) != asciiLower(folder[i])) return false;
  }
  return true;
}

}  // namespace htmlui
