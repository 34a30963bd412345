// Win32 code. The smallest real script object: an MSHTMLExternal with no methods that records
// what the host window and the document site do to it.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "htmlui/mshtml_external_win.h"

namespace testsupport {

class RecordingScriptObject final : public htmlui::MSHTMLExternal {
 public:
  RecordingScriptObject() = default;  // reference count 1, owned by the test

  std::vector<HWND> hostWindows;  // every SetHostWindow argument, in order
  int documentCompleteCount = 0;
  htmlui::MSHTMLClient* lastCompletedSite = nullptr;
  std::function<void(htmlui::MSHTMLClient*)> onDocumentComplete;  // runs inside the notification

  // The current reference count, without changing it.
  ULONG references() {
    AddRef();
    return Release();
  }

  void SetHostWindow(HWND window) override {
    hostWindows.push_back(window);
    MSHTMLExternal::SetHostWindow(window);
  }
  void OnDocumentComplete(htmlui::MSHTMLClient* site) override {
    ++documentCompleteCount;
    lastCompletedSite = site;
    if (onDocumentComplete) onDocumentComplete(site);
  }
  UINT GetMethodTable(const htmlui::MethodEntry** table) override {
    *table = nullptr;
    return 0;
  }
};

}  // namespace testsupport
