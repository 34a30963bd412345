// Win32 code. Wide text as UTF-8, for the wire and the log.
#include <windows.h>

#include <memory>

#include "sysenv/shell_win.h"

namespace sysenv {

std::string toUtf8(const std::wstring& text) {
  // As a NUL-terminated string: the text ends at its first NUL.
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  auto buffer = std::make_unique<char[]>(static_cast<size_t>(size) + 1);
  const int written = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, buffer.get(), size, nullptr, nullptr);
  buffer[written > 0 ? written : 0] = 0;
  return buffer.get();
}

}  // namespace sysenv
