#include "telemetry/machine_id_rules.h"

#include <algorithm>

#include "sysenv/little_endian.h"

namespace telemetry {
namespace {

bool isAsciiLetterOrDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

std::u16string lowerAscii(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return text;
}

// Whether the first occurrence of `word` starts among the first 8 characters: the enumerator's name
// at the start of a device path, not a word that happens to appear in an instance name further on.
bool firstOccursBelow8(const std::u16string& text, const char16_t* word) {
  const std::size_t at = text.find(word);
  return at != std::u16string::npos && at < 8;
}

}  // namespace

bool formatAsGuidPattern(std::u16string& source) {
  // Without a usable character the loop below would never fill the pattern.
  if (std::none_of(source.begin(), source.end(), isAsciiLetterOrDigit)) return false;
  std::u16string result;
  std::size_t index = 0;
  while (result.size() < kGuidPatternLength) {
    const std::size_t length = result.size();
    if (length == 8 || length == 13 || length == 18 || length == 23) {
      result.push_back(u'-');
    } else {
      const char16_t c = source[index++];
      if (isAsciiLetterOrDigit(c)) result.push_back(c);
    }
    index %= source.size();
  }
  source = std::move(result);
  return true;
}

bool isExcludedAdapterPath(const std::u16string& devicePath) {
  const std::u16string lowered = lowerAscii(devicePath);
  return firstOccursBelow8(lowered, u"root") || firstOccursBelow8(lowered, u"usb") ||
         firstOccursBelow8(lowered, u"bth");
}

bool isExcludedAdapterDescription(const std::u16string& description) {
  // Lowered as the path is, so that "Microsoft Kernel Debug Network Adapter" and its kind, which
  // Windows describes with a capital M, are left out too.
  return firstOccursBelow8(lowerAscii(description), u"microsoft");
}

std::u16string formatMacAddress(const std::uint8_t (&bytes)[6]) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string text;
  for (std::size_t i = 0; i < 6; ++i) {
    if (i > 0) text.push_back(u':');
    text.push_back(kHex[bytes[i] >> 4]);
    text.push_back(kHex[bytes[i] & 0x0F]);
  }
  return text;
}

std::u16string smallestAddress(const std::vector<std::u16string>& addresses) {
  // std::u16string compares char16_t, an unsigned type: ordinal order of the UTF-16 units.
  const auto smallest = std::min_element(addresses.begin(), addresses.end());
  return smallest == addresses.end() ? std::u16string() : *smallest;
}

bool isVirtualMachineModel(const std::u16string& model, const std::u16string& manufacturer) {
  static const struct {
    const char16_t* model;
    const char16_t* manufacturer;
  } kVirtualMachines[] = {
      {u"VirtualBox", u"innotek GmbH"},
      {u"VMware Virtual Platform", u"VMware, Inc."},
      {u"Virtual Machine", u"Microsoft Corporation"},
  };
  return std::any_of(std::begin(kVirtualMachines), std::end(kVirtualMachines), [&](const auto& row) {
    return model == row.model && manufacturer == row.manufacturer;
  });
}

std::string machineIdBytes(const std::u16string& id) {
  std::string bytes;
  bytes.reserve(id.size() * 2);
  for (char16_t unit : id) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::u16string machineIdFromBytes(const std::string& bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(sysenv::readLittleEndian<char16_t>(bytes.data(), i));
  }
  return text;
}

bool isAcceptedStoredId(const std::u16string& text) {
  if (text.size() != kMachineIdLength || text[1] != u'-' || (text[0] != u'P' && text[0] != u'V')) return false;
  for (std::size_t i = 2; i < text.size(); ++i) {
    const std::size_t body = i - 2;
    const char16_t c = text[i];
    const bool dash = body == 8 || body == 13 || body == 18 || body == 23;
    const bool alphanumeric = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
    if (dash ? c != u'-' : !alphanumeric) return false;
  }
  return true;
}

bool isUsableIdFolder(bool isReparsePoint, IdFolderOwner owner) {
  return !isReparsePoint && owner != IdFolderOwner::Other;
}

std::u16string virtualMachineId(const std::u16string& guid) { return u"V-" + guid; }

std::u16string physicalMachineId(const std::u16string& address) {
  std::u16string body = address;
  if (!formatAsGuidPattern(body)) return std::u16string();
  return u"P-" + body;
}

std::optional<std::u16string> resolveMachineIdFrom(const MachineIdSources& sources) {
  bool isVirtual = false;
  const bool queryMade = sources.queryVirtualMachine(isVirtual);
  // A folder that someone else made (or turned into a link) could feed us any id, or take ours
  // somewhere else: it is neither read nor written.
  const bool folderUsable = !sources.folderRefused || !sources.folderRefused();
  // The file is read first on both paths: once stored, an id survives changed adapters and a
  // machine moved between physical and virtual.
  if (folderUsable) {
    if (const std::optional<std::u16string> stored = sources.readStoredId(); stored && isAcceptedStoredId(*stored)) {
      return stored;
    }
  }
  if (queryMade && isVirtual) {
    // A random id that is not stored would change on every run, and the report server would
    // count one machine many times: no id (the placeholder) is better, whatever kept it unstored.
    if (!folderUsable) return std::nullopt;
    const std::optional<std::u16string> guid = sources.newGuid();
    if (!guid) return std::nullopt;
    std::u16string id = virtualMachineId(*guid);
    if (!sources.storeId(id)) return std::nullopt;
    return id;
  }
  const std::vector<std::u16string> addresses = sources.collectAddresses();
  if (addresses.empty()) return std::nullopt;
  std::u16string id = physicalMachineId(smallestAddress(addresses));
  if (id.empty()) return std::nullopt;
  if (folderUsable) sources.storeId(id);  // the same id is derived again next run if this fails
  return id;
}

}  // namespace telemetry
