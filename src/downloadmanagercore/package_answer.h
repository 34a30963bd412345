// Whether an answer can be the package at all, told before any of it is kept. A network that asks
// its users to sign in first (a hotel's or an airport's captive portal) answers every URL with its
// own web page, as a success: saved as the package, it would fail the extraction, or the pinned
// hash, with a message that sends the user round in circles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace downloadmanagercore {

// The transfer result of such an answer: an HRESULT of our own (FACILITY_ITF), never a system's.
constexpr std::uint32_t kHresultNotAPackage = 0x80040A01;

// Whether the raw response headers give an HTML or XHTML Content-Type.
bool announcesWebPage(const std::u16string& headers);

// A package starts with a zip local file header ("PK\3\4"). Judged once its first four bytes are
// known; `bytes` holds the first `count` bytes of the package.
enum class PackageStart { kUnknown, kZip, kNotZip };
PackageStart judgePackageStart(const unsigned char* bytes, std::size_t count);

}  // namespace downloadmanagercore
