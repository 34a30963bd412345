// How a retry continues a package that broke off, without an operating system: which validator of
// the first answer may guard a range request, the request headers that ask for the rest, and whether
// an answer really is the rest of the same package. Anything doubtful starts the package over: a
// wrong byte appended to a package is worse than bytes fetched twice.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace downloadmanagercore {

constexpr std::uint32_t kHttpStatusPartialContent = 206;

// The value of the first header line named `lowerName` (lower case ASCII, matched in any case) in a
// raw header block ("Name: value" lines, CR LF or LF), without the blanks around it; nothing when
// the block has no such line.
std::optional<std::u16string> headerValue(const std::u16string& headers, const std::u16string& lowerName);

// What an answer's If-Range may carry: its ETag when that is strong, else its Last-Modified when it
// has no ETag at all; empty when there is none (a weak ETag, W/"...", guards nothing: a server may
// give it to different bytes).
std::u16string resumeValidator(const std::u16string& headers);

// "Range: bytes=<offset>-" and "If-Range: <validator>", each with its CR LF.
std::u16string resumeRequestHeaders(std::uint64_t offset, const std::u16string& validator);

// "bytes first-last/total" of a Content-Range value; total -1 for "*".
struct ContentRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::int64_t total = -1;
};
std::optional<ContentRange> parseContentRange(const std::u16string& value);

// Whether an answer to a request for the bytes from `offset` on carries exactly them: a 206 whose
// Content-Range starts at `offset` and runs to the end of a package of `knownTotal` bytes (or of
// whatever total it names, when the first answer gave none: knownTotal -1). Then the whole package's
// length is `*total`.
bool continuesPackage(std::uint32_t status, const std::u16string& headers, std::uint64_t offset,
                      std::int64_t knownTotal, std::int64_t* total);

// What one attempt leaves for the next: how much of the package is on disk, and what identifies it.
// The next attempt asks for the rest only when there is a validator and something to continue.
struct ResumePoint {
  std::uint64_t offset = 0;
  std::u16string validator;
  std::int64_t total = -1;  // the whole package's length, -1 while unknown

  bool resumes() const {
    return offset > 0 && !validator.empty() && (total < 0 || offset < static_cast<std::uint64_t>(total));
  }
};

}  // namespace downloadmanagercore
