// Win32 code. Where in an unpacked package a file lies.
#pragma once

#include <string>

namespace sorvane {

// Depth first: `folder` itself before its subfolders, subfolders in the order the file system lists
// them, the first hit wins (a folder of that name counts). `found` gets the folder that holds the
// name: `folder` itself as given, or a subfolder joined to it with one backslash; it is left alone
// when nothing is found. A junction or link to a folder is not searched.
bool FindFileInTree(const std::wstring& folder, const std::wstring& name, std::wstring& found);

}  // namespace sorvane
