// The rules of the script object's automation interface that need no operating system: name
// comparison, the two DISPID spaces, the growth of the expando array, and what a call on an expando
// member does for a given set of call flags and arguments.
#pragma once

#include <cstddef>
#include <cstdint>

namespace htmlui {

// Automation constants, spelled out so that plain code does not need <oaidl.h>.
constexpr std::int32_t kDispidUnknown = -1;      // DISPID_UNKNOWN: a name that was not found
constexpr std::int32_t kDispidPropertyPut = -3;  // DISPID_PROPERTYPUT: the named argument of a put
constexpr std::uint16_t kDispatchMethod = 0x1;
constexpr std::uint16_t kDispatchPropertyGet = 0x2;
constexpr std::uint16_t kDispatchPropertyPut = 0x4;
constexpr std::uint16_t kDispatchPropertyPutRef = 0x8;

// Names: exact, code unit by code unit; or ignoring the case of A-Z only (method names are ASCII, and
// folding other letters would depend on the locale). A null name is the empty name, as a null BSTR.
bool namesEqual(const char16_t* a, const char16_t* b, bool ignoreAsciiCase);

// Fixed method row r has DISPID r + 1; DISPID 0 (DISPID_VALUE) names none.
constexpr std::int32_t methodDispid(std::uint32_t row) { return static_cast<std::int32_t>(row + 1); }
// The row of a fixed-method DISPID, when it is one: 0, negative DISPIDs and DISPIDs past the table
// are rejected by one unsigned comparison.
bool methodRowOf(std::int32_t dispid, std::uint32_t rows, std::uint32_t* row);

// Expando member i has DISPID 0x80000000 | i, negative as a signed DISPID.
constexpr std::int32_t memberDispid(std::uint32_t index) {
  return static_cast<std::int32_t>(0x80000000u | index);
}
constexpr std::uint32_t memberIndexOf(std::int32_t dispid) {
  return static_cast<std::uint32_t>(dispid) & 0x7FFFFFFFu;
}

// The array grows in steps of 32 records: when the count before an append is a multiple of 32
// (0 included) it is reallocated to count + 32 records.
constexpr std::uint32_t kMemberGrowthStep = 32;
// So many members that the next DISPIDs would run into the reserved negative ones (-1 DISPID_UNKNOWN,
// -3 DISPID_PROPERTYPUT and the other system DISPIDs near zero) is refused as out of memory.
constexpr std::uint32_t kMaxMembers = 0x7FFF0000u;
bool appendNeedsGrowth(std::uint32_t count);
// The byte size of the array after growth before appending to `count` records. False when that
// many members are refused or the size does not fit in size_t.
bool grownArrayBytes(std::uint32_t count, std::size_t recordSize, std::size_t* bytes);

// What the value of an expando member is, as far as a call on it cares.
enum class MemberValueKind {
  kDeleted,   // the member was deleted and not revived
  kDispatch,  // holds an object (a page function, for instance)
  kOther,     // any other value, VT_EMPTY included
};

enum class ExpandoAction {
  kGet,               // copy the value into the result
  kPut,               // copy argument 0 into the value (reviving a deleted member)
  kCallDefault,       // call the held object's default member with the same arguments
  kNothing,           // S_OK, nothing done
  kBadParamCount,     // DISP_E_BADPARAMCOUNT
  kParamNotFound,     // DISP_E_PARAMNOTFOUND
  kMemberNotFound,    // DISP_E_MEMBERNOTFOUND
  kNotImplemented,    // E_NOTIMPL
};

// The flags are tested in the order get, put/putref, method, with one exception: a method call on a
// member that holds an object is a call even when the engine also sets the get flag, which it does
// for a call whose value is used ("var r = external.f(3)").
// `namedIds` may be null when namedCount is 0 (and is treated as missing otherwise).
ExpandoAction expandoCallAction(std::uint16_t flags, std::uint32_t argCount, std::uint32_t namedCount,
                                const std::int32_t* namedIds, MemberValueKind kind);

}  // namespace htmlui
