#include "payload/container_format.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "sysenv/little_endian.h"
namespace payload {

static_assert(sizeof(PayloadEntryHeader::path) == 520, "the path field is 260 UTF-16 units");

bool decodePayloadEntryHeader(const unsigned char* bytes, std::size_t length, PayloadEntryHeader& header) {
  if (length != kPayloadEntryHeaderSize) return false;
  for (std::size_t i = 0; i < kPayloadPathUnits; ++i) {
    header.path[i] = sysenv::readLittleEndian<char16_t>(bytes + 2 * i);
  }
  header.size = sysenv::readLittleEndian<std::uint64_t>(bytes + 520);
  return true;
}

std::array<unsigned char, kPayloadEntryHeaderSize> encodePayloadEntryHeader(const PayloadEntryHeader& header) {
  std::array<unsigned char, kPayloadEntryHeaderSize> bytes{};
  for (std::size_t i = 0; i < kPayloadPathUnits; ++i) {
    sysenv::writeLittleEndian(&bytes[2 * i], header.path[i]);
  }
  sysenv::writeLittleEndian(&bytes[520], header.size);
  return bytes;
}

bool makePayloadEntryHeader(const std::u16string& path, std::uint64_t size, PayloadEntryHeader& header) {
  if (path.size() >= kPayloadPathUnits || path.find(u'\0') != std::u16string::npos) return false;
  header = PayloadEntryHeader{};
  std::copy(path.begin(), path.end(), header.path);
  header.size = size;
  return true;
}

std::uint32_t decodePayloadTrailer(const unsigned char bytes[kPayloadTrailerSize]) {
  return sysenv::readLittleEndian<std::uint32_t>(bytes);
}

std::u16string payloadEntryPath(const PayloadEntryHeader& header) {
  const char16_t* end = std::find(header.path, header.path + kPayloadPathUnits, u'\0');
  return std::u16string(header.path, end);
}

namespace {

bool isSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// Characters Windows refuses in a file name, and ":" which would name a drive or a data stream.
bool isForbiddenCharacter(char16_t c) {
  return c < 0x20 || c == u':' || c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' || c == u'*';
}

char16_t asciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// "CON", "nul.txt", "Com1 .log": Windows opens the device, not a file in the folder, whatever the
// folder and extension.
bool isDeviceName(const std::u16string& segment) {
  std::u16string base = segment.substr(0, segment.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  for (char16_t& c : base) c = asciiUpper(c);
  if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL" || base == u"CONIN$" ||
      base == u"CONOUT$") {
    return true;
  }
  if (base.size() == 4 && (base.compare(0, 3, u"COM") == 0 || base.compare(0, 3, u"LPT") == 0)) {
    const char16_t digit = base[3];
    return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' || digit == u'\u00B3';
  }
  return false;
}

bool isSafeSegment(const std::u16string& segment) {
  if (segment.empty()) return false;
  const char16_t last = segment.back();
  if (last == u'.' || last == u' ') return false;
  return !isDeviceName(segment);
}

}  // namespace

bool isSafePayloadEntryPath(const std::u16string& path) {
  if (path.empty() || path.size() >= kPayloadPathUnits) return false;
  if (std::any_of(path.begin(), path.end(), isForbiddenCharacter)) return false;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = start;
    while (end < path.size() && !isSeparator(path[end])) ++end;
    if (!isSafeSegment(path.substr(start, end - start))) return false;
    if (end == path.size()) return true;
    start = end + 1;
  }
}

ContainerReadResult readContainer(ContainerInput& input, const PayloadEntryWriter& writeEntry) {
  std::uint64_t fileSize = 0;
  if (!input.size(fileSize) || fileSize < kPayloadTrailerSize || !input.seek(fileSize - kPayloadTrailerSize)) {
    return ContainerReadResult::kTrailerUnreadable;
  }
  unsigned char trailer[kPayloadTrailerSize];
  std::uint32_t bytesRead = 0;
  if (!input.read(trailer, kPayloadTrailerSize, bytesRead) || bytesRead != kPayloadTrailerSize) {
    return ContainerReadResult::kTrailerUnreadable;
  }
  std::uint64_t position = decodePayloadTrailer(trailer);
  if (!input.seek(position)) return ContainerReadResult::kHeaderUnreadable;

  for (;;) {
    unsigned char raw[kPayloadEntryHeaderSize];
    PayloadEntryHeader header;
    if (!input.read(raw, kPayloadEntryHeaderSize, bytesRead) || !decodePayloadEntryHeader(raw, bytesRead, header)) {
      return ContainerReadResult::kHeaderUnreadable;
    }
    position += kPayloadEntryHeaderSize;
    if (isEndOfEntries(header)) return ContainerReadResult::kSuccess;

    // Checked before allocating: the size is whatever the file says, the file's length is not.
    if (header.size >= kPayloadEntrySizeLimit || position > fileSize || header.size > fileSize - position) {
      return ContainerReadResult::kDataUnreadable;
    }
    const auto size = static_cast<std::uint32_t>(header.size);
    std::unique_ptr<unsigned char[]> data(new (std::nothrow) unsigned char[size == 0 ? 1 : size]);
    if (!data) return ContainerReadResult::kDataUnreadable;
    if (size != 0 && (!input.read(data.get(), size, bytesRead) || bytesRead != size)) {
      return ContainerReadResult::kDataUnreadable;
    }
    position += size;
    if (!writeEntry(header, data.get())) return ContainerReadResult::kEntryNotWritten;
  }
}

bool MemoryContainerInput::size(std::uint64_t& bytes) {
  bytes = length_;
  return true;
}

bool MemoryContainerInput::seek(std::uint64_t offset) {
  position_ = offset;
  return true;
}

bool MemoryContainerInput::read(unsigned char* buffer, std::uint32_t length, std::uint32_t& bytesRead) {
  const std::uint64_t available = position_ < length_ ? length_ - position_ : 0;
  bytesRead = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, available));
  if (bytesRead != 0) std::memcpy(buffer, bytes_ + position_, bytesRead);
  position_ += bytesRead;
  return true;
}

}  // namespace payload
