// UTF-8 read strictly: text from outside (a payload file, a release setting, a zip item's name) that
// claims to be UTF-8 and is not is refused rather than guessed at.
#pragma once

#include <string>

namespace sysenv {

// Strict UTF-8 to UTF-16: characters beyond the Basic Multilingual Plane become surrogate pairs, a
// byte-order mark stays as U+FEFF, NUL bytes stay. False for bytes that are not UTF-8 (stray or
// missing continuation bytes, overlong forms, encoded surrogates, values above U+10FFFF).
bool decodeUtf8(const std::string& bytes, std::u16string& text);

}  // namespace sysenv
