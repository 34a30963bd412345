#include "receiver/minidump.h"

#include <cstdio>

#include "receiver/text_rules.h"

namespace receiver {
namespace {

constexpr std::uint32_t kSignature = 0x504D444D;  // "MDMP"
constexpr std::uint16_t kVersion = 0xA793;        // the low half of the header's version
constexpr std::uint32_t kModuleListStream = 4;
constexpr std::uint32_t kExceptionStream = 6;
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kDirectoryEntrySize = 12;
constexpr std::size_t kModuleSize = 108;
// Thread id, alignment, then the exception record up to its code and address.
constexpr std::size_t kExceptionStreamMinimum = 8 + 4 + 4 + 8 + 8;

// Little-endian reads that fail instead of reading past the end.
class Bytes {
 public:
  explicit Bytes(std::string_view data) : data_(data) {}
  bool has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= data_.size() && length <= data_.size() - offset;
  }
  std::uint32_t u32(std::uint64_t at) const {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data_[at + i]);
    return v;
  }
  std::uint64_t u64(std::uint64_t at) const { return u32(at) | (std::uint64_t{u32(at + 4)} << 32); }
  std::uint16_t u16(std::uint64_t at) const {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(data_[at]) |
                                      (static_cast<unsigned char>(data_[at + 1]) << 8));
  }

 private:
  std::string_view data_;
};

void appendUtf8(std::string& out, std::uint32_t point) {
  if (point < 0x80) {
    out.push_back(static_cast<char>(point));
  } else if (point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (point >> 6)));
    out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  } else if (point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  }
}

// A MINIDUMP_STRING (a byte length, then UTF-16LE) at `rva`, reduced to its bare file name.
std::optional<std::string> moduleName(const Bytes& bytes, std::uint64_t rva) {
  if (!bytes.has(rva, 4)) return std::nullopt;
  const std::uint32_t length = bytes.u32(rva);
  if (length % 2 != 0 || length > kMaxModuleNameBytes || !bytes.has(rva + 4, length)) return std::nullopt;
  std::string text;
  for (std::uint64_t i = 0; i < length; i += 2) {
    std::uint32_t unit = bytes.u16(rva + 4 + i);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 2 < length) {
      const std::uint32_t low = bytes.u16(rva + 6 + i);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
    if (unit == '\\' || unit == '/') {
      text.clear();
    } else {
      appendUtf8(text, unit);
    }
  }
  return toCleanText(text);
}

}  // namespace

std::optional<DumpSummary> readMinidump(std::string_view data, std::string& error) {
  const Bytes bytes(data);
  if (!bytes.has(0, kHeaderSize) || bytes.u32(0) != kSignature || (bytes.u32(4) & 0xFFFF) != kVersion) {
    error = "not a minidump";
    return std::nullopt;
  }
  const std::uint32_t streams = bytes.u32(8);
  const std::uint32_t directory = bytes.u32(12);
  if (streams > kMaxDumpStreams || !bytes.has(directory, std::uint64_t{streams} * kDirectoryEntrySize)) {
    error = "the stream directory lies outside the dump";
    return std::nullopt;
  }
  DumpSummary summary;
  bool haveException = false;
  bool haveModules = false;
  for (std::uint32_t i = 0; i < streams; ++i) {
    const std::uint64_t entry = directory + std::uint64_t{i} * kDirectoryEntrySize;
    const std::uint32_t type = bytes.u32(entry);
    const std::uint32_t size = bytes.u32(entry + 4);
    const std::uint32_t rva = bytes.u32(entry + 8);
    if (type != kExceptionStream && type != kModuleListStream) continue;
    if (!bytes.has(rva, size)) {
      error = "a stream lies outside the dump";
      return std::nullopt;
    }
    if (type == kExceptionStream && !haveException) {
      if (size < kExceptionStreamMinimum) {
        error = "a short exception stream";
        return std::nullopt;
      }
      summary.threadId = bytes.u32(rva);
      summary.exceptionCode = bytes.u32(rva + 8);
      summary.exceptionAddress = bytes.u64(rva + 24);
      haveException = true;
    } else if (type == kModuleListStream && !haveModules) {
      if (size < 4) {
        error = "a short module list";
        return std::nullopt;
      }
      const std::uint32_t count = bytes.u32(rva);
      if (count > kMaxDumpModules || std::uint64_t{count} * kModuleSize > size - 4) {
        error = "the module list does not fit its stream";
        return std::nullopt;
      }
      for (std::uint32_t m = 0; m < count; ++m) {
        const std::uint64_t at = rva + 4 + std::uint64_t{m} * kModuleSize;
        const std::optional<std::string> name = moduleName(bytes, bytes.u32(at + 20));
        if (!name) {
          error = "a module name lies outside the dump";
          return std::nullopt;
        }
        summary.modules.push_back({*name, bytes.u64(at), bytes.u32(at + 8)});
      }
      haveModules = true;
    }
  }
  if (!haveException) {
    error = "a dump without an exception stream";
    return std::nullopt;
  }
  summary.faultingModule = "?";
  summary.offset = summary.exceptionAddress;
  for (const DumpModule& module : summary.modules) {
    if (summary.exceptionAddress >= module.base && summary.exceptionAddress - module.base < module.size) {
      summary.faultingModule = module.name;
      summary.offset = summary.exceptionAddress - module.base;
      break;
    }
  }
  return summary;
}

std::string crashSignature(const DumpSummary& summary) {
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "%08X", summary.exceptionCode);
  std::string signature = numbers;
  std::snprintf(numbers, sizeof numbers, "+0x%llx", static_cast<unsigned long long>(summary.offset));
  return signature + " " + summary.faultingModule + numbers;
}

}  // namespace receiver
