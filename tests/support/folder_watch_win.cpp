// Win32 code.
#include "support/folder_watch_win.h"

#include <cstddef>

namespace testsupport {

FolderWatch::FolderWatch(const std::wstring& folder)
    : folder_(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr)),
      stopRequested_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      armed_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (!folder_ || !stopRequested_ || !armed_) return;
  collector_ = std::thread([this] { collect(); });
  // Only once the first request is queued can nothing the caller does next be missed: from then on
  // the system keeps the changes for the handle between two requests.
  WaitForSingleObject(armed_.get(), 5000);
}

FolderWatch::~FolderWatch() { stop(); }

std::vector<std::wstring> FolderWatch::stop() {
  if (collector_.joinable()) {
    SetEvent(stopRequested_.get());
    collector_.join();
  }
  return created_;
}

void FolderWatch::collect() {
  alignas(DWORD) unsigned char buffer[64 * 1024];
  sysenv::UniqueKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  bool stopping = false;
  while (true) {
    OVERLAPPED request = {};
    request.hEvent = ready.get();
    ResetEvent(ready.get());
    const BOOL queued = ReadDirectoryChangesW(folder_.get(), buffer, sizeof buffer, TRUE,
                                              FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME, nullptr,
                                              &request, nullptr);
    SetEvent(armed_.get());
    if (!queued) return;
    // Once stopping, the changes already kept for the handle are still taken, then the watch ends.
    const HANDLE waits[] = {ready.get(), stopRequested_.get()};
    const DWORD woken = stopping ? WaitForSingleObject(ready.get(), 200) : WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    DWORD bytes = 0;
    if (woken != WAIT_OBJECT_0) {
      CancelIo(folder_.get());
      GetOverlappedResult(folder_.get(), &request, &bytes, TRUE);
      if (stopping) return;
      stopping = true;
      continue;
    }
    if (!GetOverlappedResult(folder_.get(), &request, &bytes, FALSE)) return;
    for (std::size_t offset = 0; bytes != 0;) {
      const auto* change = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer + offset);
      if (change->Action == FILE_ACTION_ADDED || change->Action == FILE_ACTION_RENAMED_NEW_NAME) {
        created_.emplace_back(change->FileName, change->FileNameLength / sizeof(wchar_t));
      }
      if (change->NextEntryOffset == 0) break;
      offset += change->NextEntryOffset;
    }
  }
}

}  // namespace testsupport
