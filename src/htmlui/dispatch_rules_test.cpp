#include "htmlui/dispatch_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace htmlui {
namespace {

TEST(NamesEqual, ExactAndAsciiCaseRules) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    bool exact;
    bool ignoringCase;
  };
  const Case cases[] = {
      {u"getProperty", u"getProperty", true, true},
      {u"getProperty", u"GetProperty", false, true},
      {u"GETPROPERTY", u"getproperty", false, true},
      {u"get", u"getProperty", false, false},     // a prefix is not a match
      {u"getProperty", u"get", false, false},
      {u"a@[", u"A@[", false, true},              // only A-Z fold; '@' and '[' border them
      {u"`{", u"@[", false, false},               // ... so their neighbours do not
      {u"\u00e9t\u00e9", u"\u00c9T\u00c9", false, false},  // letters outside ASCII keep their case
      {u"", nullptr, true, true},                 // a null BSTR is the empty name
      {nullptr, nullptr, true, true},
      {u"x", nullptr, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(namesEqual(c.a, c.b, false), c.exact);
    EXPECT_EQ(namesEqual(c.a, c.b, true), c.ignoringCase);
  }
}

TEST(MethodDispids, RowsCountFromOne) {
  EXPECT_EQ(methodDispid(0), 1);
  EXPECT_EQ(methodDispid(6), 7);
  struct Case {
    std::int32_t dispid;
    bool found;
    std::uint32_t row;
  };
  const std::uint32_t rows = 3;
  const Case cases[] = {
      {1, true, 0}, {3, true, 2}, {0, false, 0}, {4, false, 0},  // DISPID_VALUE and rows + 1
      {-1, false, 0}, {-3, false, 0}, {std::numeric_limits<std::int32_t>::min(), false, 0},
      {std::numeric_limits<std::int32_t>::max(), false, 0},
  };
  for (const Case& c : cases) {
    std::uint32_t row = 99;
    EXPECT_EQ(methodRowOf(c.dispid, rows, &row), c.found) << c.dispid;
    if (c.found) EXPECT_EQ(row, c.row);
  }
  std::uint32_t row = 0;
  EXPECT_FALSE(methodRowOf(1, 0, &row));  // an empty table has no methods
}

TEST(MemberDispids, HighBitMarksExpandoMembers) {
  EXPECT_EQ(memberDispid(0), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(static_cast<std::uint32_t>(memberDispid(33)), 0x80000021u);
  EXPECT_LT(memberDispid(kMaxMembers - 1), 0);
  for (std::uint32_t index : {0u, 1u, 31u, 32u, kMaxMembers - 1}) {
    EXPECT_EQ(memberIndexOf(memberDispid(index)), index);
  }
  // The largest member DISPID stays clear of the system's reserved negative DISPIDs.
  EXPECT_LT(memberDispid(kMaxMembers - 1), -1000);
}

TEST(MemberGrowth, StepsOfThirtyTwoFromZero) {
  EXPECT_TRUE(appendNeedsGrowth(0));
  EXPECT_FALSE(appendNeedsGrowth(1));
  EXPECT_FALSE(appendNeedsGrowth(31));
  EXPECT_TRUE(appendNeedsGrowth(32));
  EXPECT_TRUE(appendNeedsGrowth(64));
  std::size_t bytes = 0;
  ASSERT_TRUE(grownArrayBytes(0, 24, &bytes));
  EXPECT_EQ(bytes, 32u * 24u);
  ASSERT_TRUE(grownArrayBytes(32, 24, &bytes));
  EXPECT_EQ(bytes, 64u * 24u);
}

TEST(MemberGrowth, RefusesSizesThatDoNotFit) {
  std::size_t bytes = 7;
  EXPECT_FALSE(grownArrayBytes(kMaxMembers - kMemberGrowthStep + 1, 1, &bytes));
  EXPECT_TRUE(grownArrayBytes(kMaxMembers - kMemberGrowthStep, 1, &bytes));
  EXPECT_EQ(bytes, kMaxMembers);
  // A record size whose product with the count wraps size_t (as 20-byte records would on 32 bits).
  EXPECT_FALSE(grownArrayBytes(64, std::numeric_limits<std::size_t>::max() / 32, &bytes));
}

TEST(ExpandoCallAction, FlagsAndArgumentsDecide) {
  using K = MemberValueKind;
  using A = ExpandoAction;
  const std::int32_t putId[] = {kDispidPropertyPut};
  const std::int32_t otherId[] = {0};
  struct Case {
    std::uint16_t flags;
    std::uint32_t args;
    std::uint32_t named;
    const std::int32_t* namedIds;
    K kind;
    A expected;
  };
  const Case cases[] = {
      // get
      {kDispatchPropertyGet, 0, 0, nullptr, K::kOther, A::kGet},
      {kDispatchPropertyGet, 0, 0, nullptr, K::kDispatch, A::kGet},  // reading a function member
      {kDispatchPropertyGet, 1, 0, nullptr, K::kOther, A::kBadParamCount},
      {kDispatchPropertyGet, 0, 1, putId, K::kOther, A::kBadParamCount},
      {kDispatchPropertyGet, 0, 0, nullptr, K::kDeleted, A::kMemberNotFound},
      // put and putref
      {kDispatchPropertyPut, 1, 1, putId, K::kOther, A::kPut},
      {kDispatchPropertyPutRef, 1, 1, putId, K::kDispatch, A::kPut},
      {kDispatchPropertyPut, 1, 1, putId, K::kDeleted, A::kPut},  // a put revives
      {kDispatchPropertyPut, 0, 1, putId, K::kOther, A::kBadParamCount},
      {kDispatchPropertyPut, 2, 1, putId, K::kOther, A::kBadParamCount},
      {kDispatchPropertyPut, 1, 0, nullptr, K::kOther, A::kParamNotFound},
      {kDispatchPropertyPut, 1, 1, otherId, K::kOther, A::kParamNotFound},
      {kDispatchPropertyPut, 1, 1, nullptr, K::kOther, A::kParamNotFound},  // count without array
      // method
      {kDispatchMethod, 1, 0, nullptr, K::kDispatch, A::kCallDefault},
      {kDispatchMethod, 0, 0, nullptr, K::kOther, A::kNothing},
      {kDispatchMethod, 2, 0, nullptr, K::kDeleted, A::kNothing},
      // a call whose value is used: the engine sets method and get together
      {kDispatchMethod | kDispatchPropertyGet, 1, 0, nullptr, K::kDispatch, A::kCallDefault},
      {kDispatchMethod | kDispatchPropertyGet, 0, 0, nullptr, K::kOther, A::kGet},
      {kDispatchMethod | kDispatchPropertyGet, 1, 0, nullptr, K::kOther, A::kBadParamCount},
      // none of the four
      {0, 0, 0, nullptr, K::kOther, A::kNotImplemented},
      {0x10, 1, 0, nullptr, K::kDispatch, A::kNotImplemented},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(expandoCallAction(c.flags, c.args, c.named, c.namedIds, c.kind), c.expected)
        << "flags " << c.flags << " args " << c.args << " named " << c.named << " kind "
        << static_cast<int>(c.kind);
  }
}

}  // namespace
}  // namespace htmlui
