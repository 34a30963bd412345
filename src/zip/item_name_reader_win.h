// Win32 code. The name of a zip item as the extraction uses it: read from the item's central
// directory header, decoded as zip/stored_name.h says, with "\" between folders.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "miniz.h"

namespace zip {

// A UTF-8 name is decoded whole, and one that is not valid UTF-8 gives no value (the item is
// refused); any other name is read in the ANSI code page, cut to MAX_PATH - 1 bytes. No value also
// when the header cannot be read (reported through the reader's read function like any short read).
std::optional<std::wstring> readItemName(mz_zip_archive& reader, const mz_zip_archive_file_stat& stat);

}  // namespace zip
