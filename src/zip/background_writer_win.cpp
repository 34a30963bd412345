// Win32 code.
#include "zip/background_writer_win.h"

#include <cstring>

namespace zip {

namespace {

// WriteFile moves at most 4 GiB - 1 at once.
DWORD transferSize(std::size_t count) { return count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count); }

}  // namespace

BackgroundWriter::BackgroundWriter() {
  for (Slot& slot : slots_) slot.bytes.reset(new char[kSlotBytes]);
  thread_.reset(CreateThread(nullptr, 0, threadMain, this, 0, nullptr));
}

BackgroundWriter::~BackgroundWriter() {
  if (!thread_) return;
  {
    sysenv::CriticalSectionLock hold(lock_);
    ending_ = true;
    changed_.wakeAll();
  }
  WaitForSingleObject(thread_.get(), INFINITE);
}

void BackgroundWriter::begin(HANDLE file, std::uint64_t expectedSize) {
  sysenv::CriticalSectionLock hold(lock_);
  file_ = file;
  direct_ = expectedSize <= kSlotBytes;
  failed_ = false;
  error_ = 0;
  slots_[open_].size = 0;
}

bool BackgroundWriter::write(const void* data, std::size_t count) {
  const auto* bytes = static_cast<const char*>(data);
  while (count > 0) {
    Slot& slot = slots_[open_];
    const std::size_t part = count < kSlotBytes - slot.size ? count : kSlotBytes - slot.size;
    std::memcpy(slot.bytes.get() + slot.size, bytes, part);
    slot.size += part;
    bytes += part;
    count -= part;
    if (slot.size == kSlotBytes && !submitOpenSlot()) return false;
  }
  sysenv::CriticalSectionLock hold(lock_);
  return !failed_;
}

bool BackgroundWriter::finish() {
  if (slots_[open_].size > 0) submitOpenSlot();
  sysenv::CriticalSectionLock hold(lock_);
  while (queued_ > 0) changed_.sleep(lock_);
  return !failed_;
}

DWORD BackgroundWriter::error() {
  sysenv::CriticalSectionLock hold(lock_);
  return error_;
}

// Hands the open slot to the writing thread and waits until the next one is free; without a thread,
// or for a file written directly, writes it here. False once the current file has failed.
bool BackgroundWriter::submitOpenSlot() {
  if (!thread_ || direct_) {
    Slot& slot = slots_[open_];
    const bool written = failed_ || writeAll(file_, slot.bytes.get(), slot.size);
    slot.size = 0;
    return written && !failed_;
  }
  sysenv::CriticalSectionLock hold(lock_);
  ++queued_;
  changed_.wakeAll();
  open_ = (open_ + 1) % kSlots;
  while (queued_ == kSlots) changed_.sleep(lock_);
  slots_[open_].size = 0;
  return !failed_;
}

DWORD WINAPI BackgroundWriter::threadMain(void* self) {
  static_cast<BackgroundWriter*>(self)->writeQueued();
  return 0;
}

void BackgroundWriter::writeQueued() {
  sysenv::CriticalSectionLock hold(lock_);
  for (;;) {
    while (queued_ == 0 && !ending_) changed_.sleep(lock_);
    if (ending_) return;
    // The oldest queued slot lies `queued_` slots before the open one.
    const Slot& slot = slots_[(open_ + kSlots - queued_) % kSlots];
    const HANDLE file = file_;
    const bool skip = failed_;
    lock_.leave();
    const bool written = skip || writeAll(file, slot.bytes.get(), slot.size);
    lock_.enter();
    if (!written) failed_ = true;
    --queued_;
    changed_.wakeAll();
  }
}

bool BackgroundWriter::writeAll(HANDLE file, const char* bytes, std::size_t size) {
  std::size_t total = 0;
  while (total < size) {
    DWORD written = 0;
    if (!WriteFile(file, bytes + total, transferSize(size - total), &written, nullptr) || written == 0) {
      const DWORD code = GetLastError();
      sysenv::CriticalSectionLock hold(lock_);
      error_ = code;
      failed_ = true;
      return false;
    }
    total += written;
  }
  return true;
}

}  // namespace zip
