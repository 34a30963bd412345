#include "app/language_table.h"

#include <array>

namespace app {
namespace {

struct LanguageEntry {
  const char16_t* code;
  const char16_t* name;
  std::uint16_t resourceId;
};

// Entries 0-13 are the languages the program treats specially; 14-107 follow in alphabetical order
// of the English name. Indices are stored in reports and compared by the page: never reorder.
constexpr std::array<LanguageEntry, kLanguageCount> kLanguages = {{
    {u"other", u"Other", 0x0409},  // 0
    {u"en", u"English", 0x0409},  // 1
    {u"fr", u"French", 0x040C},  // 2
    {u"de", u"German", 0x0407},  // 3
    {u"it", u"Italian", 0x0410},  // 4
    {u"jp", u"Japanese", 0x0411},  // 5
    {u"es", u"Spanish", 0x0C0A},  // 6
    {u"pt", u"Portuguese", 0x0416},  // 7
    {u"nl", u"Dutch", 0x0413},  // 8
    {u"ko", u"Korean", 0x0412},  // 9
    {u"ru", u"Russian", 0x0419},  // 10
    {u"cs", u"Czech", 0x0405},  // 11
    {u"zh", u"Simplified Chinese", 0x0804},  // 12
    {u"tw", u"Traditional Chinese", 0x0404},  // 13
    {u"af", u"Afrikaans", 0x0436},  // 14
    {u"sq", u"Albanian", 0x041C},  // 15
    {u"am", u"Amharic", 0x045E},  // 16
    {u"ar", u"Arabic", 0x0401},  // 17
    {u"hy", u"Armenian", 0x042B},  // 18
    {u"as", u"Assamese", 0x044D},  // 19
    {u"ba", u"Bashkir", 0x046D},  // 20
    {u"eu", u"Basque", 0x042D},  // 21
    {u"be", u"Belarusian", 0x0423},  // 22
    {u"bn", u"Bengali", 0x0445},  // 23
    {u"br", u"Breton", 0x047E},  // 24
    {u"bs", u"Bosnian", 0x141A},  // 25
    {u"bg", u"Bulgarian", 0x0402},  // 26
    {u"ca", u"Catalan", 0x0403},  // 27
    {u"co", u"Corsican", 0x0483},  // 28
    {u"hr", u"Croatian", 0x041A},  // 29
    {u"da", u"Danish", 0x0406},  // 30
    {u"dv", u"Divehi", 0x0465},  // 31
    {u"et", u"Estonian", 0x0425},  // 32
    {u"fi", u"Finnish", 0x040B},  // 33
    {u"fy", u"Frisian", 0x0462},  // 34
    {u"gl", u"Galician", 0x0456},  // 35
    {u"ka", u"Georgian", 0x0437},  // 36
    {u"el", u"Greek", 0x0408},  // 37
    {u"kl", u"Greenlandic", 0x046F},  // 38
    {u"gu", u"Gujarati", 0x0447},  // 39
    {u"ha", u"Hausa", 0x0468},  // 40
    {u"he", u"Hebrew", 0x040D},  // 41
    {u"hi", u"Hindi", 0x0439},  // 42
    {u"hu", u"Hungarian", 0x040E},  // 43
    {u"is", u"Icelandic", 0x040F},  // 44
    {u"ig", u"Igbo", 0x0470},  // 45
    {u"id", u"Indonesian", 0x0421},  // 46
    {u"iu", u"Inuktitut", 0x045D},  // 47
    {u"ga", u"Irish", 0x083C},  // 48
    {u"kn", u"Kannada", 0x044B},  // 49
    {u"ks", u"Kashmiri", 0x0860},  // 50
    {u"kk", u"Kazakh", 0x043F},  // 51
    {u"km", u"Khmer", 0x0453},  // 52
    {u"rw", u"Kinyarwanda", 0x0487},  // 53
    {u"ky", u"Kyrgyz", 0x0440},  // 54
    {u"lo", u"Lao", 0x0454},  // 55
    {u"lv", u"Latvian", 0x0426},  // 56
    {u"lt", u"Lithuanian", 0x0427},  // 57
    {u"lb", u"Luxembourgish", 0x046E},  // 58
    {u"mk", u"Macedonian", 0x042F},  // 59
    {u"ms", u"Malay", 0x043E},  // 60
    {u"ml", u"Malayalam", 0x044C},  // 61
    {u"mt", u"Maltese", 0x043A},  // 62
    {u"mi", u"Maori", 0x0481},  // 63
    {u"mr", u"Marathi", 0x044E},  // 64
    {u"mn", u"Mongolian", 0x0450},  // 65
    {u"ne", u"Nepali", 0x0861},  // 66
    {u"no", u"Norwegian", 0x0414},  // 67
    {u"oc", u"Occitan", 0x0482},  // 68
    {u"or", u"Oriya", 0x0448},  // 69
    {u"ps", u"Pashto", 0x0463},  // 70
    {u"fa", u"Persian", 0x0429},  // 71
    {u"pl", u"Polish", 0x0415},  // 72
    {u"pa", u"Punjabi", 0x0446},  // 73
    {u"qu", u"Quechua", 0x046B},  // 74
    {u"ro", u"Romanian", 0x0418},  // 75
    {u"rm", u"Romansh", 0x0417},  // 76
    {u"se", u"Sami", 0x043B},  // 77
    {u"sa", u"Sanskrit", 0x044F},  // 78
    {u"gd", u"Scottish Gaelic", 0x0491},  // 79
    {u"sr", u"Serbian", 0x181A},  // 80
    {u"sd", u"Sindhi", 0x0459},  // 81
    {u"si", u"Sinhalese", 0x045B},  // 82
    {u"sk", u"Slovak", 0x041B},  // 83
    {u"sl", u"Slovenian", 0x0424},  // 84
    {u"st", u"Sotho", 0x046C},  // 85
    {u"sw", u"Swahili", 0x0441},  // 86
    {u"sv", u"Swedish", 0x041D},  // 87
    {u"tg", u"Tajik", 0x0428},  // 88
    {u"ta", u"Tamil", 0x0449},  // 89
    {u"tt", u"Tatar", 0x0444},  // 90
    {u"te", u"Telugu", 0x044A},  // 91
    {u"th", u"Thai", 0x041E},  // 92
    {u"bo", u"Tibetan", 0x0451},  // 93
    {u"tn", u"Tswana", 0x0432},  // 94
    {u"tr", u"Turkish", 0x041F},  // 95
    {u"tk", u"Turkmen", 0x0442},  // 96
    {u"ug", u"Uighur", 0x0480},  // 97
    {u"uk", u"Ukrainian", 0x0422},  // 98
    {u"ur", u"Urdu", 0x0420},  // 99
    {u"uz", u"Uzbek", 0x0443},  // 100
    {u"vi", u"Vietnamese", 0x042A},  // 101
    {u"cy", u"Welsh", 0x0452},  // 102
    {u"wo", u"Wolof", 0x0488},  // 103
    {u"xh", u"Xhosa", 0x0434},  // 104
    {u"yi", u"Yiddish", 0x0478},  // 105
    {u"yo", u"Yoruba", 0x046A},  // 106
    {u"zu", u"Zulu", 0x0435},  // 107
}};

constexpr std::uint16_t kPrimaryLanguageMask = 0x3FF;

int exactIdentifierIndex(std::uint16_t id) {
  switch (id) {
    case 0x0409: return 1;
    case 0x040C: return 2;
    case 0x0407: return 3;
    case 0x0410: return 4;
    case 0x0411: return 5;
    case 0x080A: case 0x0C0A: return 6;
    case 0x0416: case 0x0816: return 7;
    case 0x0413: return 8;
    case 0x0412: return 9;
    case 0x0419: return 10;
    case 0x0405: return 11;
    case 0x0804: case 0x1004: return 12;
    case 0x0404: case 0x0C04: case 0x1404: return 13;
    default: return -1;
  }
}

// Croatian, Bosnian and Serbian share primary language 0x1A; only the whole identifier tells them apart.
int serboCroatianIndex(std::uint16_t id) {
  switch (id) {
    case 0x041A: case 0x101A: return 29;
    case 0x141A: case 0x201A: return 25;
    case 0x081A: case 0x0C1A: case 0x181A: case 0x1C1A: case 0x241A: case 0x281A: case 0x2C1A: case 0x301A:
      return 80;
    default: return kLanguageOther;
  }
}

int specialPrimaryLanguageIndex(std::uint16_t primary) {
  switch (primary) {
    case 0x04: return 12;
    case 0x07: return 3;
    case 0x09: return 1;
    case 0x0A: return 6;
    case 0x0C: return 2;
    case 0x10: return 4;
    case 0x11: return 5;
    case 0x13: return 8;
    case 0x16: return 7;
    case 0x19: return 10;
    default: return -1;
  }
}

}  // namespace

// An index from outside the table reads as "Other" rather than past the end.
static const LanguageEntry& entryAt(int index) {
  return (index >= 0 && index < kLanguageCount) ? kLanguages[index] : kLanguages[kLanguageOther];
}

std::u16string languageCode(int index) { return entryAt(index).code; }
std::u16string languageName(int index) { return entryAt(index).name; }
std::uint16_t languageResourceId(int index) { return entryAt(index).resourceId; }

int languageIndexForUiLanguage(std::uint16_t languageId) {
  const int exact = exactIdentifierIndex(languageId);
  if (exact >= 0) return exact;

  const std::uint16_t primary = languageId & kPrimaryLanguageMask;
  if (primary == 0x1A) return serboCroatianIndex(languageId);

  for (int index = 14; index < kLanguageCount; ++index) {
    if ((kLanguages[index].resourceId & kPrimaryLanguageMask) == primary) return index;
  }
  const int special = specialPrimaryLanguageIndex(primary);
  return special >= 0 ? special : kLanguageOther;
}

}  // namespace app
