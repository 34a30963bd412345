// Win32 code. Plain code keeps text as std::u16string (wchar_t is 32 bits on Linux); on Windows
// wchar_t is the same UTF-16 unit, so the conversion at the edge is a copy.
#pragma once

#include <string>

namespace sysenv {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

inline std::wstring toWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string toU16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace sysenv
