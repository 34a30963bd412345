// Win32 code. The download engine runs as HtmlExternal::DownloadPackage (html_external_win.h); this
// header holds only the setting that tests shorten.
#pragma once

namespace downloadmanagercore {

// How long an attempt may go without any notification from the URL service before it ends as timed
// out: kReceiveTimeoutMilliseconds (download_rules.h), unless a test changed it. Process-wide; for
// tests only, which cannot wait ten times half a minute.
unsigned receiveTimeoutMilliseconds();
void setReceiveTimeoutMillisecondsForTests(unsigned milliseconds);

}  // namespace downloadmanagercore
