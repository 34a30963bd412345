#include "sysenv/scratch_rules.h"

namespace sysenv {

namespace {

constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;  // INVALID_FILE_ATTRIBUTES
constexpr std::uint32_t kDirectory = 0x10;                 // FILE_ATTRIBUTE_DIRECTORY
constexpr std::uint32_t kReparsePoint = 0x400;             // FILE_ATTRIBUTE_REPARSE_POINT

bool isUpperHexDigit(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'); }

}  // namespace

// "OICI": files and folders made inside inherit the two entries; "FA" all file rights, "SY" SYSTEM,
// "BA" the Administrators group, "BU" the Users group. Users get read, list and traverse
// (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE).
const char16_t kScratchFolderSddl[] = u"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const char16_t kMachineIdFolderSddl[] = u"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

std::vector<ScratchRoot> scratchRootsFor(bool elevated) {
  if (!elevated) return {ScratchRoot::UserTemp};
  return {ScratchRoot::SystemTemp, ScratchRoot::WindowsTemp};
}

bool isUsableScratchRoot(std::uint32_t attributes) {
  return attributes != kInvalidAttributes && (attributes & kDirectory) != 0 && (attributes & kReparsePoint) == 0;
}

bool isScratchFolderName(const std::u16string& name) {
  if (name.size() != 36) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? name[i] != u'-' : !isUpperHexDigit(name[i])) return false;
  }
  return true;
}

}  // namespace sysenv
