// The page's list of UI languages, found by scanning "js\installparams.js" rather than parsing it.
#pragma once

#include <string>
#include <vector>

#include "sysenv/utf8_text.h"

namespace payload {

// The strict decoder, under the name that this folder's callers know.
using sysenv::decodeUtf8;

// The quoted texts after the first "\"LANG\"" of the file: scanning starts seven characters after
// the match (past the closing quote and the colon), and runs to the first "]" or the end; each pair
// of quotes gives one text, with no escape processing, and a "]" ends the scan even inside quotes.
// So `"LANG":"en"` yields "en" and every later quoted text up to the next "]", and a "LANG" inside
// some other string counts like the member. Empty when there is no match or the bytes are not UTF-8.
std::vector<std::u16string> scanLanguageList(const std::string& utf8Bytes);

}  // namespace payload
