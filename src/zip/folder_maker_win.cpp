// Win32 code.
#include "zip/folder_maker_win.h"

#include <windows.h>

namespace zip {

FolderMaker::FolderMaker(const std::wstring& root) : root_(root) {
  while (!root_.empty() && root_.back() == L'\\') root_.pop_back();
  existing_.insert(root_);
}

void FolderMaker::make(const std::wstring& folder) {
  if (existing_.count(folder) != 0 || makeOne(folder)) return;
  if (GetLastError() != ERROR_PATH_NOT_FOUND) return;
  const std::size_t separator = folder.rfind(L'\\');
  if (separator == std::wstring::npos || separator <= root_.size()) return;
  make(folder.substr(0, separator));
  makeOne(folder);
}

// Whether `folder` exists now; remembered when it does. A file of that name also counts as there:
// the item that needs the folder then fails on its own.
bool FolderMaker::makeOne(const std::wstring& folder) {
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  existing_.insert(folder);
  return true;
}

}  // namespace zip
