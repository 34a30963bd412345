// Unpacks the UI payload of its own executable as the stub does at start, then reports what it
// found, so that a test can run a packed copy of it. Usage: payload_probe [--keep DEST] REPORT_FILE
// The report (UTF-8) has three lines: "folder=<payload folder>", "loaded=<0|1>" and
// "languages=<codes of the LANG list, comma-separated>". Without --keep the folder is deleted
// with deletePayloadFolder before the program ends. With it the folder is moved (renamed, on the
// same volume) to DEST instead, out of reach of the payload's own clean-up, for the test to read.
// Exit code: 0 unpacked, 1 not unpacked, 2 usage, 3 the report could not be written, 4 the folder
// could not be moved.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/logger_win.h"
#include "payload/ui_payload_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/wide_text_win.h"

int wmain(int argc, wchar_t** argv) {
  std::wstring keepFolder;
  std::wstring reportPath;
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (argument == L"--keep" && i + 1 < argc) {
      keepFolder = argv[++i];
    } else if (reportPath.empty()) {
      reportPath = argument;
    } else {
      return 2;
    }
  }
  if (reportPath.empty()) return 2;

  std::wstring report;
  bool loaded = false;
  bool moved = true;
  {
    app::Logger logger;
    payload::UiPayload payload(&logger);
    loaded = payload.loaded();
    report = L"folder=" + payload.payloadFolder() + L"\nloaded=" + (loaded ? L"1" : L"0") + L"\nlanguages=";
    const std::vector<std::u16string> languages = payload.readLanguageList();
    for (std::size_t i = 0; i < languages.size(); ++i) {
      if (i != 0) report += L",";
      report += sysenv::toWide(languages[i]);
    }
    report += L"\n";
    if (keepFolder.empty()) {
      payload.deletePayloadFolder();
    } else {
      moved = MoveFileW(payload.payloadFolder().c_str(), keepFolder.c_str()) != 0;
    }
  }

  const std::string bytes = sysenv::toUtf8(report);
  std::FILE* file = _wfopen(reportPath.c_str(), L"wb");
  if (file == nullptr) return 3;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) return 3;
  if (!moved) return 4;
  return loaded ? 0 : 1;
}
