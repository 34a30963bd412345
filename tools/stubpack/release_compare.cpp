// Plain code. Section headers follow the optional header, 40 bytes each: the name in 8 bytes, then
// SizeOfRawData at offset 16 and PointerToRawData at 20.
#include "stubpack/release_compare.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "stubpack/container.h"

namespace stubpack {

namespace {

constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kSectionCountField = 6;        // from the "PE\0\0" signature
constexpr std::size_t kOptionalHeaderSizeField = 20;  // from the "PE\0\0" signature
constexpr std::size_t kOptionalHeaderStart = 24;      // from the "PE\0\0" signature

bool fail(std::string* error, const std::string& reason) {
  if (error != nullptr) *error = reason;
  return false;
}

std::string hexOffset(std::size_t offset) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%zx", offset);
  return text;
}

std::string sectionName(const std::uint8_t* header) {
  std::string name;
  for (std::size_t i = 0; i < 8 && header[i] != 0; ++i) {
    const char c = static_cast<char>(header[i]);
    name += (c >= 0x21 && c <= 0x7E) ? c : '?';
  }
  return "section " + (name.empty() ? std::string("(unnamed)") : name);
}

// The image up to its certificate table, with the two fields that signing rewrites (and the
// digest leaves out) set to zero, so that plain byte comparison sees only what the digest sees.
Bytes digestedBytes(const Bytes& image, const CertificateTable& table) {
  Bytes bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(table.tableOffset));
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(table.checksumOffset), 4, 0);
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(table.directoryEntryOffset), 8, 0);
  return bytes;
}

// The first offset in [offset, offset + size) where the two buffers differ (both hold the range).
std::size_t firstDifferenceIn(const Bytes& a, const Bytes& b, std::size_t offset, std::size_t size) {
  const auto begin = static_cast<std::ptrdiff_t>(offset);
  const auto end = static_cast<std::ptrdiff_t>(offset + size);
  return static_cast<std::size_t>(std::mismatch(a.begin() + begin, a.begin() + end, b.begin() + begin).first -
                                  a.begin());
}

// The first image part in which the two digested images differ, or empty.
std::string firstImageDifference(const Bytes& given, const std::vector<ImagePart>& givenParts, const Bytes& rebuilt,
                                 const std::vector<ImagePart>& rebuiltParts) {
  for (std::size_t i = 0; i < givenParts.size(); ++i) {
    const ImagePart& part = givenParts[i];
    if (i >= rebuiltParts.size()) return part.name + " (not in the rebuild)";
    const ImagePart& theirs = rebuiltParts[i];
    if (part.name != theirs.name) return part.name + " (the rebuild has " + theirs.name + " here)";
    const std::size_t common = std::min(part.size, theirs.size);
    if (part.offset == theirs.offset) {
      const std::size_t at = firstDifferenceIn(given, rebuilt, part.offset, common);
      if (at != part.offset + common) return part.name + " (first difference at file offset " + hexOffset(at) + ")";
    } else if (!std::equal(given.begin() + static_cast<std::ptrdiff_t>(part.offset),
                           given.begin() + static_cast<std::ptrdiff_t>(part.offset + common),
                           rebuilt.begin() + static_cast<std::ptrdiff_t>(theirs.offset))) {
      return part.name + " (at file offset " + hexOffset(part.offset) + ", the rebuild's at " +
             hexOffset(theirs.offset) + ")";
    }
    if (part.size != theirs.size) {
      return part.name + " (" + std::to_string(part.size) + " bytes, the rebuild's " + std::to_string(theirs.size) + ")";
    }
  }
  if (rebuiltParts.size() > givenParts.size()) return rebuiltParts[givenParts.size()].name + " (missing)";
  return "";
}

// The first payload entry in which the two containers differ, or empty.
std::string firstContainerDifference(const Bytes& given, const ContainerListing& givenListing, const Bytes& rebuilt,
                                     const ContainerListing& rebuiltListing) {
  const auto& ours = givenListing.entries;
  const auto& theirs = rebuiltListing.entries;
  for (std::size_t i = 0; i < ours.size(); ++i) {
    const std::string name = "payload entry " + utf16ToUtf8(ours[i].path);
    if (i >= theirs.size()) return name + " (not in the rebuild)";
    if (ours[i].path != theirs[i].path) return name + " (the rebuild has " + utf16ToUtf8(theirs[i].path) + " here)";
    if (ours[i].size != theirs[i].size) {
      return name + " (" + std::to_string(ours[i].size) + " bytes, the rebuild's " + std::to_string(theirs[i].size) + ")";
    }
    const auto data = given.begin() + static_cast<std::ptrdiff_t>(ours[i].dataOffset);
    const auto end = data + static_cast<std::ptrdiff_t>(ours[i].size);
    const auto at = std::mismatch(data, end, rebuilt.begin() + static_cast<std::ptrdiff_t>(theirs[i].dataOffset)).first;
    if (at != end) return name + " (first difference at byte " + std::to_string(at - data) + " of the entry)";
  }
  if (theirs.size() > ours.size()) return "payload entry " + utf16ToUtf8(theirs[ours.size()].path) + " (missing)";
  return "";
}

struct ReleaseFile {
  CertificateTable table;
  std::vector<ImagePart> parts;
  ContainerListing listing;
};

bool readRelease(const Bytes& image, const char* which, ReleaseFile* file, std::string* error) {
  std::string reason;
  if (!locateCertificateTable(image, &file->table, &reason) || !imageParts(image, file->table, &file->parts, &reason) ||
      !readContainer(image, &file->listing, &reason)) {
    return fail(error, std::string("the ") + which + " file: " + reason);
  }
  return true;
}

}  // namespace

bool imageParts(const Bytes& image, const CertificateTable& table, std::vector<ImagePart>* parts, std::string* error) {
  const std::uint8_t* data = image.data();
  const std::size_t pe = readLe32(data + 0x3C);
  const std::size_t count = readLe16(data + pe + kSectionCountField);
  const std::size_t headers = pe + kOptionalHeaderStart + readLe16(data + pe + kOptionalHeaderSizeField);
  if (headers + count * kSectionHeaderSize > table.tableOffset) return fail(error, "the section table runs past the headers");

  struct Section {
    std::string name;
    std::size_t offset;
    std::size_t size;
  };
  std::vector<Section> sections;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* header = data + headers + i * kSectionHeaderSize;
    const std::size_t size = readLe32(header + 16);
    const std::size_t offset = readLe32(header + 20);
    if (size == 0) continue;  // uninitialised data: nothing in the file
    if (offset < headers + count * kSectionHeaderSize || offset > table.tableOffset || size > table.tableOffset - offset) {
      return fail(error, sectionName(header) + " lies outside the image");
    }
    sections.push_back({sectionName(header), offset, size});
  }
  std::sort(sections.begin(), sections.end(), [](const Section& a, const Section& b) { return a.offset < b.offset; });

  // Each section runs to the next one's start, so that the parts cover every byte once.
  std::vector<ImagePart> found;
  std::size_t at = sections.empty() ? table.tableOffset : sections.front().offset;
  found.push_back({"the PE headers", 0, at});
  std::size_t previousEnd = at;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    if (sections[i].offset < previousEnd) return fail(error, sections[i].name + " overlaps another section");
    previousEnd = sections[i].offset + sections[i].size;
    const std::size_t end = i + 1 < sections.size() ? std::max(sections[i + 1].offset, previousEnd) : previousEnd;
    found.push_back({sections[i].name, sections[i].offset, end - sections[i].offset});
    at = end;
  }
  if (at < table.tableOffset) found.push_back({"the data after the last section", at, table.tableOffset - at});
  *parts = std::move(found);
  return true;
}

std::string authenticodeDigest(const Bytes& image, const CertificateTable& table) {
  const std::uint8_t* data = image.data();
  const std::size_t checksumEnd = table.checksumOffset + 4;
  const std::size_t directoryEnd = table.directoryEntryOffset + 8;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  const bool hashed = context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1 &&
                      EVP_DigestUpdate(context, data, table.checksumOffset) == 1 &&
                      EVP_DigestUpdate(context, data + checksumEnd, table.directoryEntryOffset - checksumEnd) == 1 &&
                      EVP_DigestUpdate(context, data + directoryEnd, table.tableOffset - directoryEnd) == 1 &&
                      EVP_DigestFinal_ex(context, digest, &length) == 1;
  EVP_MD_CTX_free(context);
  if (!hashed) return "";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

bool compareReleases(const Bytes& given, const Bytes& rebuilt, ReleaseComparison* comparison, std::string* error) {
  ReleaseFile ours;
  ReleaseFile theirs;
  if (!readRelease(given, "given", &ours, error) || !readRelease(rebuilt, "rebuilt", &theirs, error)) return false;
  ReleaseComparison result;
  result.givenDigest = authenticodeDigest(given, ours.table);
  result.rebuiltDigest = authenticodeDigest(rebuilt, theirs.table);
  if (result.givenDigest.empty() || result.rebuiltDigest.empty()) return fail(error, "SHA-256 is not available");
  if (result.givenDigest != result.rebuiltDigest) {
    result.firstDifference = firstImageDifference(digestedBytes(given, ours.table), ours.parts,
                                                  digestedBytes(rebuilt, theirs.table), theirs.parts);
    // The parts cover every digested byte, so a digest that differs always names one.
    if (result.firstDifference.empty()) result.firstDifference = "the Authenticode digest";
  } else {
    result.firstDifference = firstContainerDifference(given, ours.listing, rebuilt, theirs.listing);
  }
  *comparison = result;
  return true;
}

}  // namespace stubpack
