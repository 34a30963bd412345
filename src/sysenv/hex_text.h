// Bytes as lower-case hexadecimal text, two digits a byte: how digests appear in log lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sysenv {

std::u16string hexBytes(const std::uint8_t* bytes, std::size_t length);

}  // namespace sysenv
