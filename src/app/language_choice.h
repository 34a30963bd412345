// The install language: the user's UI language when the product and the page both offer it,
// otherwise the product language that matches the page's first candidate, otherwise English.
#pragma once

#include <string>
#include <vector>

namespace app {

// The product's languages in their fixed order, English first: en, fr, jp, de, it, nl.
std::vector<int> productLanguages();

// `uiLanguage` is the LanguageTable index of the user's UI language; `candidates` are the page's
// "LANG" codes, compared exactly; `products` must not be empty (its first entry is the fallback).
int chooseLanguage(const std::vector<std::u16string>& candidates, const std::vector<int>& products,
                   int uiLanguage);

}  // namespace app
