// Where a document comes from, as the document site judges it: only pages inside the folder that the
// host loaded its start page from get `window.external`, and the window navigates nowhere else. The
// document names its pages by URL ("file:///C:/Users/Jo%20Doe/.../Load.html"), the host by path;
// both are brought to one local path before they are compared. No system calls.
#pragma once

#include <optional>
#include <string>

namespace htmlui {

// The local path that a file URL or a plain path names: backslashes only, %XX escapes decoded (as
// UTF-8 where they form it, else each as one Latin-1 character), a file URL's query and fragment
// dropped. Nothing for anything else, and nothing for what could name another place than it seems:
// a UNC or device path, a host in a file URL, a "." or ".." segment, an empty segment, a stream
// (":" after the drive), a control character, a broken escape.
std::optional<std::u16string> localPageLocation(const std::u16string& pathOrUrl);

// The folder of a page given as a path or file URL, ending in a backslash; empty when the page has
// no local path (localPageLocation).
std::u16string pageFolderOf(const std::u16string& pathOrUrl);

// The local path that `reference` names when the document at `base` (a file URL or path) follows
// it: an absolute file URL or path as localPageLocation reads it, or a relative reference
// ("Download.html", "js/a.js", "../x.html", "#top") resolved against the folder of `base`, its
// escapes decoded, its "." and ".." segments applied and its query and fragment dropped. Nothing
// for anything else, and nothing for a relative reference that climbs above the drive.
std::optional<std::u16string> resolvePageReference(const std::u16string& reference, const std::u16string& base);

// Whether `url` (a file URL or path, or a reference relative to `base`) names something inside
// `folder` (from pageFolderOf), in the folder or below it. Letters A to Z compare without case, as
// the file system does; an empty folder holds nothing.
bool isInsidePageFolder(const std::u16string& url, const std::u16string& folder, const std::u16string& base = {});

}  // namespace htmlui
