#include "htmlui/dispatch_rules.h"

#include <limits>

namespace htmlui {

namespace {

char16_t foldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

}  // namespace

bool namesEqual(const char16_t* a, const char16_t* b, bool ignoreAsciiCase) {
  if (a == nullptr) a = u"";
  if (b == nullptr) b = u"";
  for (;; ++a, ++b) {
    const char16_t x = ignoreAsciiCase ? foldAscii(*a) : *a;
    const char16_t y = ignoreAsciiCase ? foldAscii(*b) : *b;
    if (x != y) return false;
    if (x == 0) return true;
  }
}

bool methodRowOf(std::int32_t dispid, std::uint32_t rows, std::uint32_t* row) {
  // Unsigned arithmetic: dispid - 1 wraps for 0 and negative DISPIDs instead of overflowing.
  const std::uint32_t candidate = static_cast<std::uint32_t>(dispid) - 1u;
  if (candidate >= rows) return false;
  *row = candidate;
  return true;
}

bool appendNeedsGrowth(std::uint32_t count) { return count % kMemberGrowthStep == 0; }

bool grownArrayBytes(std::uint32_t count, std::size_t recordSize, std::size_t* bytes) {
  if (count > kMaxMembers - kMemberGrowthStep) return false;
  const std::size_t records = static_cast<std::size_t>(count) + kMemberGrowthStep;
  if (recordSize != 0 && records > std::numeric_limits<std::size_t>::max() / recordSize) return false;
  *bytes = records * recordSize;
  return true;
}

ExpandoAction expandoCallAction(std::uint16_t flags, std::uint32_t argCount, std::uint32_t namedCount,
                                const std::int32_t* namedIds, MemberValueKind kind) {
  if ((flags & kDispatchMethod) != 0 && kind == MemberValueKind::kDispatch) {
    return ExpandoAction::kCallDefault;
  }
  if ((flags & kDispatchPropertyGet) != 0) {
    if (argCount != 0 || namedCount != 0) return ExpandoAction::kBadParamCount;
    // A deleted member's value is a marker, not a VARIANT that may be copied out.
    return kind == MemberValueKind::kDeleted ? ExpandoAction::kMemberNotFound : ExpandoAction::kGet;
  }
  if ((flags & (kDispatchPropertyPut | kDispatchPropertyPutRef)) != 0) {
    if (argCount != 1) return ExpandoAction::kBadParamCount;
    if (namedCount != 1 || namedIds == nullptr || namedIds[0] != kDispidPropertyPut) {
      return ExpandoAction::kParamNotFound;
    }
    return ExpandoAction::kPut;
  }
  if ((flags & kDispatchMethod) != 0) return ExpandoAction::kNothing;
  return ExpandoAction::kNotImplemented;
}

}  // namespace htmlui
