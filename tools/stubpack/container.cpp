// Plain code.
#include "stubpack/container.h"

#include "payload/language_list.h"

#include <set>

namespace stubpack {

namespace {

bool fail(std::string* error, const std::string& reason) {
  if (error != nullptr) *error = reason;
  return false;
}

bool forbiddenInName(char16_t unit) {
  if (unit < 0x20 || unit == 0x7F) return true;
  switch (unit) {
    case u'<': case u'>': case u':': case u'"': case u'|': case u'?': case u'*': case u'/':
      return true;
    default:
      return false;
  }
}

std::u16string asciiLower(const std::u16string& text) {
  std::u16string lower = text;
  for (char16_t& unit : lower) {
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
  }
  return lower;
}

}  // namespace

std::string entryPathProblem(const std::u16string& path) {
  if (path.empty()) return "the path is empty";
  // One unit of the header stays for the terminating 0.
  if (path.size() >= payload::kPayloadPathUnits) {
    return "the path has " + std::to_string(path.size()) + " UTF-16 units; at most " +
           std::to_string(payload::kPayloadPathUnits - 1) + " fit an entry";
  }
  if (path[0] == u'\\' || path[0] == u'/') return "the path is absolute";
  if (path.find(u':') != std::u16string::npos) return "the path has a drive or stream prefix (':')";
  if (path.find(u'/') != std::u16string::npos) return "the path uses '/'; the container's separator is '\\'";
  for (char16_t unit : path) {
    if (forbiddenInName(unit)) return "the path has a character that Windows does not allow in a name";
  }
  std::size_t begin = 0;
  while (true) {
    const std::size_t end = path.find(u'\\', begin);
    const std::u16string segment = path.substr(begin, end == std::u16string::npos ? std::u16string::npos : end - begin);
    if (segment.empty()) return "the path has an empty segment";
    if (segment == u"..") return "the path has a '..' segment";
    if (segment == u".") return "the path has a '.' segment";
    if (end == std::u16string::npos) break;
    begin = end + 1;
  }
  // The stub's own rule has the last word: a container that the stub would refuse to unpack must
  // not be made in the first place.
  if (!payload::isSafePayloadEntryPath(path)) {
    return "the stub refuses to write this path (a device name such as CON or NUL, or a segment ending in '.' or ' ')";
  }
  return {};
}

std::string entrySizeProblem(std::uint64_t size) {
  if (size >= payload::kPayloadEntrySizeLimit) {
    return "the file has " + std::to_string(size) + " bytes; an entry holds less than 4 GiB";
  }
  return {};
}

std::string utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;  // a lone surrogate: show a replacement, as the text is only printed
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

bool parseEntryList(const std::string& text, std::vector<std::u16string>* paths, std::string* error) {
  std::vector<std::u16string> result;
  std::set<std::u16string> seen;
  std::size_t begin = 0;
  for (std::size_t lineNumber = 1; begin < text.size(); ++lineNumber) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::string where = "line " + std::to_string(lineNumber) + " (" + line + "): ";
    std::u16string path;
    if (!payload::decodeUtf8(line, path)) return fail(error, where + "not valid UTF-8");
    const std::string problem = entryPathProblem(path);
    if (!problem.empty()) return fail(error, where + problem);
    if (!seen.insert(asciiLower(path)).second) return fail(error, where + "the path is listed twice");
    result.push_back(std::move(path));
  }
  *paths = std::move(result);
  return true;
}

std::size_t fillSize(std::uint64_t tableBytesBeforeFill) {
  const std::uint64_t withMinimum = tableBytesBeforeFill + kMinimumFill + payload::kPayloadTrailerSize;
  return kMinimumFill + static_cast<std::size_t>((8 - withMinimum % 8) % 8);
}

void appendEntryHeader(Bytes& out, const std::u16string& path, std::uint64_t size) {
  // The stub's own header layout; a path too long for it was refused by entryPathProblem already.
  payload::PayloadEntryHeader header;
  payload::makePayloadEntryHeader(path.substr(0, payload::kPayloadPathUnits - 1), size, header);
  const auto bytes = payload::encodePayloadEntryHeader(header);
  out.insert(out.end(), bytes.begin(), bytes.end());
}

bool readContainer(const Bytes& image, ContainerListing* listing, std::string* error) {
  CertificateTable table;
  if (!locateCertificateTable(image, &table, error)) return false;
  const std::size_t size = image.size();
  if (size - table.signatureEnd < payload::kPayloadTrailerSize) return fail(error, "the file has no payload container");
  const std::size_t trailer = size - payload::kPayloadTrailerSize;
  const std::size_t start = payload::decodePayloadTrailer(image.data() + trailer);
  if (start != table.signatureEnd) {
    return fail(error, "the file has no payload container (its last four bytes do not point at the end of the signature)");
  }
  ContainerListing found;
  found.start = start;
  std::size_t position = start;
  while (true) {
    if (position > size || size - position < payload::kPayloadEntryHeaderSize) {
      return fail(error, "the entry list runs into the end of the file without a terminating header");
    }
    payload::PayloadEntryHeader header;
    payload::decodePayloadEntryHeader(image.data() + position, payload::kPayloadEntryHeaderSize, header);
    if (payload::isEndOfEntries(header)) break;
    const std::string where = "entry " + std::to_string(found.entries.size() + 1) + ": ";
    ContainerEntry entry;
    entry.path = payload::payloadEntryPath(header);
    if (entry.path.size() == payload::kPayloadPathUnits) {
      return fail(error, where + "the path is not terminated within 260 units");
    }
    const std::string problem = entryPathProblem(entry.path);
    if (!problem.empty()) return fail(error, where + utf16ToUtf8(entry.path) + ": " + problem);
    entry.size = header.size;
    const std::string sizeProblem = entrySizeProblem(entry.size);
    if (!sizeProblem.empty()) return fail(error, where + sizeProblem);
    entry.dataOffset = position + payload::kPayloadEntryHeaderSize;
    if (entry.dataOffset > trailer || entry.size > trailer - entry.dataOffset) {
      return fail(error, where + "the data runs past the container");
    }
    position = entry.dataOffset + static_cast<std::size_t>(entry.size);
    found.entries.push_back(std::move(entry));
  }
  found.fill = trailer - position;
  for (std::size_t i = position; i < trailer; ++i) {
    if (image[i] != 0) return fail(error, "the fill after the last entry is not zero");
  }
  *listing = std::move(found);
  return true;
}

}  // namespace stubpack
