// Win32 code. Unpacks a zip archive that the caller has open into a folder, item by item, streaming
// every item to disk; progress and the system error of a short read or write go to a reporter.
#pragma once

#include <windows.h>

#include <string>

#include "zip/zip_reporter.h"

namespace zip {

// `archive` is open for reading (the caller keeps it and closes it); `destinationFolder` is a full
// path, created with its parents. `reporter` may be null. True only when every item was written; the
// first item that fails ends the unpacking, with its partly written file deleted and earlier items
// kept. An item whose name would land outside the folder (absolute, a drive, any ":", ".." above
// the folder) or that names a device ("nul") fails without writing. A name is UTF-8 when the item's
// language-encoding flag says so, an Info-ZIP Unicode Path extra field matches it, or it was written
// on Unix and is valid UTF-8 (zip/stored_name.h); an item whose UTF-8 name is not valid UTF-8 fails
// without writing; any other name is read in the ANSI code page, cut to 259 bytes. An item whose
// stated size exceeds the free space fails as a full disk before any of it is written (the volume is
// asked once, counted down item by item, and asked again when the count says no); an item never
// grows beyond its stated size (an archive whose data inflates to more fails that item). An item's
// bytes are written on a thread of their own while the next ones inflate, and all of them are
// written before the next item begins. Progress goes to the reporter before each item and once at
// the end (also after a failure); ReportError gets ERROR_DISK_FULL for an item that does not fit and
// the last-error code of a short read or write, never anything for a refused name, a rejected
// archive or item, or a file that cannot be created. The reporter is called on the caller's thread
// only. Writes no log lines.
bool UnzipToFolder(HANDLE archive, const std::wstring& destinationFolder, ZipReporter* reporter);

}  // namespace zip
