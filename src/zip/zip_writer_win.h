// Win32 code. Adds one file on disk to a zip archive on disk, creating the archive when there is none:
// how the error report packs its log files.
#pragma once

#include <string>

namespace zip {

// The item is named after the file's last path component (in the ANSI code page, without the UTF-8
// flag) and holds its whole content, deflated at level 9 (stored up to 3 bytes); it goes after the
// archive's earlier items. True when the item was added and the archive finalised. False when the
// source cannot be read whole (missing, open for writing elsewhere, over 256 MiB), when the item
// name does not fit 259 ANSI bytes, or when the archive cannot be created, read or rewritten (its
// folder is missing, it is not a zip archive); the archive is then left byte for byte as it was, and
// one that this call created is gone. The caller must not add to one archive from two threads.
bool AddFileToZip(const std::wstring& sourcePath, const std::wstring& archivePath);

}  // namespace zip
