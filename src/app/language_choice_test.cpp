#include "app/language_choice.h"

#include <gtest/gtest.h>

namespace {

constexpr int kEnglish = 1, kFrench = 2, kGerman = 3, kSpanish = 6, kDutch = 8, kDanish = 30;
const std::vector<std::u16string> kShippedCandidates = {u"en", u"fr", u"jp", u"de", u"it", u"nl"};

TEST(ChooseLanguage, UserLanguageWinsWhenProductAndPageOfferIt) {
  EXPECT_EQ(app::chooseLanguage(kShippedCandidates, app::productLanguages(), kGerman), kGerman);
  EXPECT_EQ(app::chooseLanguage(kShippedCandidates, app::productLanguages(), kDutch), kDutch);
}

TEST(ChooseLanguage, OtherwiseTheProductLanguageOfThePagesFirstCandidate) {
  EXPECT_EQ(app::chooseLanguage(kShippedCandidates, app::productLanguages(), kSpanish), kEnglish);
  EXPECT_EQ(app::chooseLanguage({u"fr"}, app::productLanguages(), kGerman), kFrench);
  // A product language that the page does not list still loses to the page's first candidate.
  EXPECT_EQ(app::chooseLanguage({u"nl", u"en"}, app::productLanguages(), kGerman), kDutch);
}

TEST(ChooseLanguage, OnlyTheFirstCandidateIsConsultedAndComparisonIsExact) {
  EXPECT_EQ(app::chooseLanguage({u"xx", u"fr"}, app::productLanguages(), kSpanish), kEnglish);
  EXPECT_EQ(app::chooseLanguage({u"FR"}, app::productLanguages(), kSpanish), kEnglish);
}

TEST(ChooseLanguage, WithoutCandidatesTheUserLanguageIfAProductLanguageElseEnglish) {
  EXPECT_EQ(app::chooseLanguage({}, app::productLanguages(), kGerman), kGerman);
  EXPECT_EQ(app::chooseLanguage({}, app::productLanguages(), kDanish), kEnglish);
}

}  // namespace
