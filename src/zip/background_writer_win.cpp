// Win32 code.
#include "zip/background_writer_win.h"

#include "sysenv/write_all_win.h"

namespace zip {

namespace {

// The one place where an extracted file is made. The full link checks of sysenv::openScratchFile cost
// about 3 ms a file under Wine (they made a 2,000-file package unpack three times slower); the folders
// written here are the run's own, made new under the administrators-only scratch root.
sysenv::UniqueFileHandle createOutputFile(const std::wstring& path) {
  return sysenv::UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

}  // namespace

BackgroundWriter::BackgroundWriter(const std::wstring& root) : folders_(root) {
  for (Piece& piece : pieces_) piece.bytes.reset(new char[kBufferBytes]);
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

void BackgroundWriter::waitForFreeBuffer() {
  sysenv::CriticalSectionLock hold(lock_);
  while (queued_ == kBuffers) changed_.sleep(lock_);
}

char* BackgroundWriter::buffer() {
  waitForFreeBuffer();
  return pieces_[open_].bytes.get();
}

void BackgroundWriter::handOver(std::size_t size, Begins begins, const std::wstring& path, bool closes, bool keep) {
  waitForFreeBuffer();
  Piece& piece = pieces_[open_];
  piece.size = size;
  piece.begins = begins;
  piece.path = path;
  piece.closes = closes;
  piece.keep = keep;
  {
    sysenv::CriticalSectionLock hold(lock_);
    if (thread_) {
      ++queued_;
      open_ = (open_ + 1) % kBuffers;
      changed_.wakeAll();
      return;
    }
  }
  writePiece(piece);
}

BackgroundWriter::Progress BackgroundWriter::progress() {
  sysenv::CriticalSectionLock hold(lock_);
  return progress_;
}

BackgroundWriter::Progress BackgroundWriter::wait() {
  sysenv::CriticalSectionLock hold(lock_);
  while (queued_ > 0) changed_.sleep(lock_);
  return progress_;
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
    // The oldest queued piece lies `queued_` pieces before the open one.
    const Piece& piece = pieces_[(open_ + kBuffers - queued_) % kBuffers];
    lock_.leave();
    writePiece(piece);
    lock_.enter();
    --queued_;
    changed_.wakeAll();
  }
}

void BackgroundWriter::writePiece(const Piece& piece) {
  if (stopped_) return;
  if (piece.begins == Begins::kFolder) {
    folders_.make(piece.path);  // an existing folder is no failure
  } else if (piece.begins == Begins::kFile) {
    folders_.make(piece.path.substr(0, piece.path.rfind(L'\\')));
    filePath_ = piece.path;
    file_ = createOutputFile(filePath_);
    fileFailed_ = !file_;
    fileError_ = 0;
  }
  const bool inFile = piece.begins == Begins::kFile || (piece.begins == Begins::kNothing && !filePath_.empty());
  if (inFile && !fileFailed_ && piece.keep && piece.size > 0 &&
      !sysenv::writeAll(file_.get(), piece.bytes.get(), piece.size)) {
    fileError_ = GetLastError();
    fileFailed_ = true;
  }
  // A file that failed ends its item at once; the rest of its pieces are dropped.
  if (inFile && (piece.closes || fileFailed_) && !closeFile(piece.keep)) {
    sysenv::CriticalSectionLock hold(lock_);
    stopped_ = true;
    progress_.failed = true;
    progress_.error = fileError_;
    return;
  }
  if (piece.closes) {
    sysenv::CriticalSectionLock hold(lock_);
    ++progress_.itemsDone;
  }
}

bool BackgroundWriter::closeFile(bool keep) {
  const bool made = file_.valid();
  file_.reset();
  const bool kept = made && !fileFailed_ && keep;
  // Only a file made here is deleted: one that could not be made may be someone else's.
  if (made && !kept) DeleteFileW(filePath_.c_str());
  filePath_.clear();
  return kept;
}

}  // namespace zip
