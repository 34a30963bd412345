// Win32 code. Writes one output file after another on a thread of its own, fed through a few fixed
// buffers: inflating the next piece of an item then overlaps writing the last one. Memory stays the
// same whatever the size of the archive (kSlots buffers of kSlotBytes).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "sysenv/critical_section_win.h"
#include "sysenv/unique_handle_win.h"

namespace zip {

class BackgroundWriter {
 public:
  static constexpr std::size_t kSlots = 4;
  static constexpr std::size_t kSlotBytes = 256 * 1024;

  // Starts the thread. Where it cannot be started, every write happens at once on the caller's
  // thread instead, with the same results.
  BackgroundWriter();
  // Ends and joins the thread; what is queued and not yet written is dropped.
  ~BackgroundWriter();
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  // The next writes go to `file` at its current position. Only between finish() and the next write.
  // A file of `expectedSize` bytes that fits in one buffer is written by finish() on the caller's
  // thread: handing it over would cost two thread switches for a single write.
  void begin(HANDLE file, std::uint64_t expectedSize);
  // Queues `count` bytes, waiting for a free buffer when all are full. False once a write to the
  // current file has failed (then nothing more is written to it, and error() says why).
  bool write(const void* data, std::size_t count);
  // Hands over what is queued and waits until all of it is written: true when every byte was.
  bool finish();
  // The last-error code of the write that failed (ERROR_DISK_FULL on a full disk); 0 while none has.
  DWORD error();

 private:
  struct Slot {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
  };

  static DWORD WINAPI threadMain(void* self);
  void writeQueued();
  // Writes all of `size` bytes, writing again after a short write, so that the write that really
  // fails sets the error code. False with error_ set on failure.
  bool writeAll(HANDLE file, const char* bytes, std::size_t size);
  bool submitOpenSlot();

  Slot slots_[kSlots];
  std::size_t open_ = 0;  // the slot the caller fills; the queue is the `queued_` slots before it
  HANDLE file_ = INVALID_HANDLE_VALUE;
  bool direct_ = false;  // the current file is written on the caller's thread

  sysenv::CriticalSection lock_;
  sysenv::ConditionVariable changed_;  // a slot queued, a slot written, or the end asked for
  std::size_t queued_ = 0;             // slots handed over and not yet written, the one in writing included
  bool failed_ = false;
  DWORD error_ = 0;
  bool ending_ = false;
  sysenv::UniqueKernelHandle thread_;
};

}  // namespace zip
