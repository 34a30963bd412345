// What the shell utilities take from a page, which is script text an attacker may have changed: a
// shortcut name that can only name a shortcut on the desktop, and a URL that can only open a web
// page. No system calls, so the rules are tested natively.
#pragma once

#include <string>
#include <string_view>

namespace sysenv {

// A bare file name ending in ".lnk" (any case) with something before it: no path, no separator
// ("\" or "/"), no drive or stream (":"), no "..", no character that Windows refuses in a file name
// (control characters, < > " | ? *), not a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9,
// CONIN$, CONOUT$, with any extension), and at most 255 characters.
bool isBareShortcutName(const std::u16string& name);

// An absolute http or https URL (scheme in any case) with a host, made only of the characters a URI
// may hold (RFC 3986: letters, digits, - . _ ~ : / ? # [ ] @ ! $ & ' ( ) * + , ; = and %XX escapes).
// Nothing else (a path, a file: URL, another scheme, blanks, quotes, < > | ^ \) reaches the shell.
bool isWebPageUrl(const std::u16string& url);

}  // namespace sysenv
