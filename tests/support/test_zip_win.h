// Win32 code. Real zip archives for the tests, made with miniz's writer.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Stored names (8-bit, "/" between folders; a trailing "/" makes a folder item) and contents, in
// archive order. Deflated at miniz's default level. False when the archive could not be written.
bool writeZipArchive(const std::wstring& path, const std::vector<std::pair<std::string, std::string>>& items);

// `size` bytes that do not compress: a package that fills a volume with few archive bytes would not.
std::string incompressibleBytes(size_t size, unsigned seed = 1);

}  // namespace testsupport
