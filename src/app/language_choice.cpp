#include "app/language_choice.h"

#include <algorithm>

#include "app/language_table.h"

namespace app {

std::vector<int> productLanguages() { return {1, 2, 5, 3, 4, 8}; }

int chooseLanguage(const std::vector<std::u16string>& candidates, const std::vector<int>& products,
                   int uiLanguage) {
  const bool inProducts = std::find(products.begin(), products.end(), uiLanguage) != products.end();
  if (candidates.empty()) return inProducts ? uiLanguage : products.front();

  const std::u16string uiCode = languageCode(uiLanguage);
  const bool inCandidates = std::find(candidates.begin(), candidates.end(), uiCode) != candidates.end();
  if (inProducts && inCandidates) return uiLanguage;

  // Only the page's first candidate is consulted here, as the page lists its preferred one first.
  for (int product : products) {
    if (languageCode(product) == candidates.front()) return product;
  }
  return products.front();
}

}  // namespace app
