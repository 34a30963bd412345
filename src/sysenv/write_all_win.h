// Win32 code. Writing a whole buffer to a file.
#pragma once

#include <windows.h>

#include <cstddef>

namespace sysenv {

// Writes all of `size` bytes at the file pointer, writing again after a short write: a write that
// takes only part of a buffer succeeds, and only the next one fails and says why. False with the
// last-error code of the write that failed (ERROR_DISK_FULL for one that took nothing without an
// error); `written`, when given, counts the bytes that did reach the file either way.
bool writeAll(HANDLE file, const void* bytes, std::size_t size, std::size_t* written = nullptr);

}  // namespace sysenv
