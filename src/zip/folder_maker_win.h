// Win32 code. Makes the folders that items land in, remembering which ones exist, so that an archive
// of many items in few folders asks the file system once per folder rather than once per item.
#pragma once

#include <string>
#include <unordered_set>

namespace zip {

class FolderMaker {
 public:
  // `root` exists (or its absence will fail the items): it is never created here.
  explicit FolderMaker(const std::wstring& root);

  // Makes `folder` (a full path below the root, no trailing backslash) with its missing parents. An
  // existing folder is no failure, and neither is anything else: whether the item can then be
  // written decides.
  void make(const std::wstring& folder);

 private:
  bool makeOne(const std::wstring& folder);

  std::wstring root_;
  std::unordered_set<std::wstring> existing_;
};

}  // namespace zip
