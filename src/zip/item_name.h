// Where a zip item may land. Item names come from a downloaded archive, so a name must never lead a
// write outside the destination folder.
#pragma once

#include <optional>
#include <string>

namespace zip {

// The path of an item relative to the destination folder, for a stored name whose "/" have already
// become "\". "." segments and doubled separators are dropped, and ".." removes the segment before
// it; the result has neither and no trailing separator. Empty when the name resolves to the
// destination folder itself (".", "a\.."). No value, the item refused, when the name is absolute
// (a leading "\": root-relative, UNC and device paths), holds a ":" anywhere (a drive prefix or an
// alternate data stream), climbs above the destination with "..", or has a segment made only of
// dots and spaces other than "." and ".." (Windows trims trailing dots and spaces, so such a
// segment would not stay the name it claims to be), or has a segment that names a device ("nul",
// "com1.txt", "CON", "lpt1.log": Windows would open the device, not a file in the folder).
std::optional<std::u16string> containedItemPath(const std::u16string& nameWithBackslashes);

}  // namespace zip
