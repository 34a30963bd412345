// Win32 code. The UI files carried in the executable's own certificate table: unpacked into a
// temporary folder at start, read for the page's language list, deleted at the end of the run.
#pragma once

#include <string>
#include <vector>

#include "payload/container_format.h"

namespace app {
class Logger;
}

namespace payload {

class UiPayload {
 public:
  // Makes the folder and unpacks the running executable's container into it; never fails, the
  // outcome is loaded(). Logs "create temporary folder failed!" when no folder can be made (the
  // folder then stays empty), else "load resource success, temporary folder path : %s" on success.
  explicit UiPayload(app::Logger* logger);
  // The same over the container of another executable file: how a program other than the shipped
  // one (a test, a tool) gets the pages of a packed file.
  UiPayload(app::Logger* logger, std::wstring executablePath);
  // Removes a folder that deletePayloadFolder has not removed, without logging (the logger may be
  // gone by then).
  ~UiPayload();
  UiPayload(const UiPayload&) = delete;
  UiPayload& operator=(const UiPayload&) = delete;

  bool loaded() const { return loaded_; }
  // The folder with a trailing backslash; empty when none was made or after deletePayloadFolder.
  const std::wstring& payloadFolder() const { return payloadFolder_; }

  // Reads the running executable's container into `folder` (see unpackPayloadFile). Logs
  // "Load Resource from pe." first, and "get current app full path failed!" when the executable's
  // path is unavailable or does not fit in MAX_PATH.
  bool unpackPayload(const std::wstring& folder);
  // The quoted texts of the "LANG" member of "js\installparams.js" in the payload folder (see
  // scanLanguageList); empty when there is no folder, no readable file, no member, or the file is
  // not UTF-8.
  std::vector<std::u16string> readLanguageList() const;
  // Deletes the folder tree ("Delete Temp folder failed!" when it stays) and forgets the folder.
  void deletePayloadFolder();

 private:
  void unpackIntoNewFolder();

  bool loaded_ = false;
  std::wstring payloadFolder_;
  app::Logger* logger_;
  std::wstring executablePath_;  // empty: the running executable
};

// Writes one entry under `folder` (with or without a trailing backslash), making its parent folders
// first and replacing a file of the same name. False without writing anything when the entry's
// path is unsafe (isSafePayloadEntryPath), the joined path does not fit in MAX_PATH, or the size is
// 4 GiB or more; false when a folder or the file cannot be made or written. `data` holds
// header.size bytes. "/" in a path is written as "\".
bool writePayloadEntry(const PayloadEntryHeader& header, const unsigned char* data, const std::wstring& folder);

// The reading loop over the file at `executablePath`, writing every entry into `folder`, with the
// log lines of the unpacking: "open file : %s failed!" or "read end of certification table failed!"
// (and nothing more), else one of "read file info failed!", "read file data failed!" or "create %s
// failed!" (with `folder`) on failure, then "Load Resource from pe finished.". Entries written
// before a failure stay. `logger` may be null.
bool unpackPayloadFile(const std::wstring& executablePath, const std::wstring& folder, app::Logger* logger);

}  // namespace payload
