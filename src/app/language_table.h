// The fixed table of 108 languages: a short code (what the page and the "lang" property use), an
// English name (what the report uses) and a Windows language identifier (what string-resource
// lookups use). Language values everywhere in the program are indices into it.
#pragma once

#include <cstdint>
#include <string>

namespace app {

constexpr int kLanguageCount = 108;
constexpr int kLanguageOther = 0;
constexpr int kLanguageEnglish = 1;

// `index` must lie in 0..107.
std::u16string languageCode(int index);
std::u16string languageName(int index);
std::uint16_t languageResourceId(int index);

// The table index for a Windows UI language identifier (what GetUserDefaultUILanguage returns).
int languageIndexForUiLanguage(std::uint16_t languageId);

}  // namespace app
