// The little-endian integers of the formats the stub reads and writes (zip records, the payload
// container, the trust slot, the stored machine id, PE headers), read and written a byte at a time,
// whatever the host's byte order and whatever the alignment.
#pragma once

#include <cstddef>

namespace sysenv {

// The unsigned value of the sizeof(T) bytes at `at`, least significant first.
template <typename T>
T readLittleEndian(const unsigned char* at) {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    value = static_cast<T>(value | static_cast<T>(static_cast<T>(at[i]) << (8 * i)));
  }
  return value;
}

// The same, from a byte string's `at`-th byte.
template <typename T>
T readLittleEndian(const char* bytes, std::size_t at) {
  return readLittleEndian<T>(reinterpret_cast<const unsigned char*>(bytes) + at);
}

// Writes `value` as sizeof(T) bytes at `at`, least significant first.
template <typename T>
void writeLittleEndian(unsigned char* at, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace sysenv
