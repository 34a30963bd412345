// Win32 code.
#include "support/test_zip_win.h"

#include <cstdint>

#include "miniz.h"
#include "support/wine_test_support_win.h"

namespace testsupport {

bool writeZipArchive(const std::wstring& path, const std::vector<std::pair<std::string, std::string>>& items) {
  mz_zip_archive archive{};
  if (!mz_zip_writer_init_heap(&archive, 0, 0)) return false;
  bool written = true;
  for (const auto& [name, content] : items) {
    written = written && mz_zip_writer_add_mem(&archive, name.c_str(), content.data(), content.size(),
                                               MZ_DEFAULT_COMPRESSION);
  }
  void* bytes = nullptr;
  size_t size = 0;
  written = written && mz_zip_writer_finalize_heap_archive(&archive, &bytes, &size);
  if (written) written = writeFileBytes(path, std::string(static_cast<const char*>(bytes), size));
  mz_free(bytes);
  mz_zip_writer_end(&archive);
  return written;
}

std::string incompressibleBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (char& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

}  // namespace testsupport
