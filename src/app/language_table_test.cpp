#include "app/language_table.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct UiLanguageCase {
  std::uint16_t identifier;
  int index;
  const char* what;
};

TEST(LanguageIndexForUiLanguage, MapsIdentifiersByExactValueThenPrimaryLanguage) {
  const UiLanguageCase cases[] = {
      {0x0409, 1, "English (US), exact"},
      {0x0809, 1, "English (UK), by primary language"},
      {0x0C0C, 2, "French (Canada)"},
      {0x0816, 7, "Portuguese (Portugal), exact"},
      {0x0C04, 13, "Chinese (Hong Kong) is Traditional Chinese"},
      {0x1004, 12, "Chinese (Singapore) is Simplified Chinese"},
      {0x7C04, 12, "other Chinese variants by primary language"},
      {0x0406, 30, "Danish, from the alphabetical part"},
      {0x083C, 48, "Irish"},
      {0x0478, 105, "primary language 0x78 is Yiddish"},
      {0x0405, 11, "Czech, exact only"},
      {0x0412, 9, "Korean, exact only"},
      {0x0812, 0, "another Korean identifier is not recognised"},
      {0x0805, 0, "another Czech identifier is not recognised"},
      {0x041A, 29, "Croatian (Croatia)"},
      {0x101A, 29, "Croatian (Bosnia and Herzegovina)"},
      {0x141A, 25, "Bosnian (Latin)"},
      {0x241A, 80, "Serbian (Latin, Serbia)"},
      {0x3C1A, 0, "an unknown 0x1A identifier is other, not the first 0x1A entry"},
      {0x0000, 0, "neutral"},
      {0x007F, 0, "invariant"},
  };
  for (const UiLanguageCase& c : cases) {
    EXPECT_EQ(app::languageIndexForUiLanguage(c.identifier), c.index) << c.what;
  }
}

TEST(LanguageTable, EntriesKeepTheirCodesNamesAndIdentifiers) {
  EXPECT_EQ(app::languageCode(0), u"other");
  EXPECT_EQ(app::languageName(0), u"Other");
  EXPECT_EQ(app::languageResourceId(0), 0x0409);
  EXPECT_EQ(app::languageCode(5), u"jp");
  EXPECT_EQ(app::languageName(13), u"Traditional Chinese");
  EXPECT_EQ(app::languageResourceId(13), 0x0404);
  EXPECT_EQ(app::languageCode(107), u"zu");
  EXPECT_EQ(app::languageName(79), u"Scottish Gaelic");
  EXPECT_EQ(app::languageResourceId(6), 0x0C0A);
}

TEST(LanguageTable, CodesAreUniqueSoThePageCanNameEveryLanguage) {
  std::set<std::u16string> codes;
  for (int index = 0; index < app::kLanguageCount; ++index) codes.insert(app::languageCode(index));
  EXPECT_EQ(codes.size(), static_cast<size_t>(app::kLanguageCount));
}

TEST(LanguageTable, AnIndexOutsideTheTableReadsAsOther) {
  EXPECT_EQ(app::languageCode(-1), u"other");
  EXPECT_EQ(app::languageName(app::kLanguageCount), u"Other");
}

}  // namespace
