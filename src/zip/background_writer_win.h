// Win32 code. Puts the unpacked items on disk on a thread of its own, fed through a few fixed buffers:
// the caller inflates the next items while the last ones are written. Under Wine, making, writing and
// closing a file each cost a trip to the wineserver, and those trips are most of an unpacking's time;
// the queue keeps that thread busy with them while the caller inflates. Memory stays the same whatever
// the size of the archive (kBuffers buffers of kBufferBytes).
//
// Items are put on disk one after the other, in the order they were handed over, each with the
// folders it needs. The first that fails stops the writing: nothing handed over after it is made, so
// an unpacking that fails leaves exactly the items before the failed one, whatever was queued.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>

#include "sysenv/critical_section_win.h"
#include "sysenv/unique_handle_win.h"
#include "zip/folder_maker_win.h"

namespace zip {

class BackgroundWriter {
 public:
  static constexpr std::size_t kBuffers = 8;
  static constexpr std::size_t kBufferBytes = 256 * 1024;

  // What the writing has come to.
  struct Progress {
    std::size_t itemsDone = 0;  // items wholly on disk, counted from the first handed over
    bool failed = false;        // item `itemsDone` failed, and nothing after it was made
    DWORD error = 0;            // the last-error code of the write that failed (112 on a full disk);
                                // 0 when none did (a file that could not be made, or one given up)
  };

  // What a piece begins.
  enum class Begins {
    kNothing,  // it follows the current file, or, closing with no file begun, stands for an item
               // that needs nothing on disk
    kFolder,   // the folder at the path, with its missing parents
    kFile,     // the file at the path, made anew in its folder (made if missing); a file of that name
               // is replaced, and a link in its place is opened itself, not followed
  };

  // The items go below `root`, which exists (or its absence will fail them).
  explicit BackgroundWriter(const std::wstring& root);
  // Ends and joins the thread; what is handed over and not yet written is dropped, and a file being
  // written is left as far as it got.
  ~BackgroundWriter();
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  // The buffer (kBufferBytes) that the next handOver() passes on, once the writing thread has one
  // free. The same buffer until it is handed over.
  char* buffer();
  // Hands over the first `size` bytes of buffer(), as the piece that begins `begins` at `path` (full
  // path, no trailing backslash). `closes` ends the item: a file is kept when `keep` and every write
  // to it succeeded, and deleted otherwise; a file given up (`keep` false) fails its item. Without
  // a thread, the piece is written before this returns.
  void handOver(std::size_t size, Begins begins, const std::wstring& path, bool closes, bool keep = true);
  // Where the writing is now, without waiting.
  Progress progress();
  // Waits until everything handed over is written (or dropped after a failure), and says where the
  // writing ended.
  Progress wait();

 private:
  struct Piece {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
    Begins begins = Begins::kNothing;
    std::wstring path;
    bool closes = false;
    bool keep = true;
  };

  static DWORD WINAPI threadMain(void* self);
  void writeQueued();
  // The writing thread's part (or the caller's, without a thread).
  void writePiece(const Piece& piece);
  // Closes the current file, keeping it or deleting it; false when it was not kept.
  bool closeFile(bool keep);
  void waitForFreeBuffer();

  Piece pieces_[kBuffers];
  std::size_t open_ = 0;  // the piece the caller fills; the queue is the `queued_` pieces before it

  // Only the writing thread touches these while it runs.
  FolderMaker folders_;
  sysenv::UniqueFileHandle file_;
  std::wstring filePath_;
  bool fileFailed_ = false;  // not made, or a write failed
  DWORD fileError_ = 0;
  bool stopped_ = false;  // an item failed: nothing more is made

  sysenv::CriticalSection lock_;
  sysenv::ConditionVariable changed_;  // a piece handed over, a piece written, or the end asked for
  std::size_t queued_ = 0;             // pieces handed over and not yet written, the one in writing included
  Progress progress_;
  bool ending_ = false;
  sysenv::UniqueKernelHandle thread_;
};

}  // namespace zip
