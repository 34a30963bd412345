// Win32 code. UI payload containers built byte by byte after the container's table, without
// the packer, so that the reader is checked against the format rather than against its writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

inline void appendLittleEndian(std::string& bytes, std::uint64_t value, int count) {
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

struct ContainerEntry {
  std::wstring path;
  std::string data;
  std::uint64_t statedSize;  // what the header claims, which a test may make disagree with the data
};
inline ContainerEntry containerEntry(const std::wstring& path, const std::string& data) {
  return {path, data, data.size()};
}

// Stands for the signed executable in front of the container.
inline std::string executableBytes() {
  std::string bytes = "MZ";
  for (int i = 0; i < 998; ++i) bytes.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
  return bytes;
}

// The executable's bytes, then each header (260 UTF-16LE units of path, 0-padded, and a 64-bit
// size) with its data, 524 zero bytes, and the trailer with the first header's offset.
inline std::string containerFile(const std::vector<ContainerEntry>& entries,
                                 std::string executable = executableBytes()) {
  std::string bytes = std::move(executable);
  const auto offset = static_cast<std::uint32_t>(bytes.size());
  for (const ContainerEntry& e : entries) {
    for (size_t i = 0; i < 260; ++i) appendLittleEndian(bytes, i < e.path.size() ? e.path[i] : 0, 2);
    appendLittleEndian(bytes, e.statedSize, 8);
    bytes += e.data;
  }
  bytes.append(524, '\0');
  appendLittleEndian(bytes, offset, 4);
  return bytes;
}

}  // namespace testsupport
