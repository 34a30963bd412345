// What the zip reader tells its caller while it unpacks: progress by items, and the system error code
// of a read or write that moved fewer bytes than asked for.
#pragma once

#include <cstdint>

namespace zip {

class ZipReporter {
 public:
  // `done` items of `total` handled so far; (total, total) once at the end, also after a failure.
  virtual void ReportProgress(std::uint32_t done, std::uint32_t total) = 0;
  // The last-error code after a short read or write (112 when the disk is full).
  virtual void ReportError(std::uint32_t code) = 0;
  // Asked before each item and each piece written: true ends the unpacking there, as a failure, with
  // the item being written deleted. For a caller whose run is ending.
  virtual bool StopRequested() { return false; }

 protected:
  ~ZipReporter() = default;  // never deleted through this interface
};

}  // namespace zip
