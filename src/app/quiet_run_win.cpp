// Win32 code.
#include "app/quiet_run_win.h"

#include <windows.h>

#include <objbase.h>
#include <wrl/client.h>

#include <string>

#include "app/quiet_exit_code.h"
#include "app/ui_run_win.h"
#include "payload/language_list.h"
#include "scripthost/script_engine_win.h"
#include "scripthost/script_host_object_win.h"
#include "scripthost/script_timers_win.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/wide_text_win.h"

namespace app {

using scripthost::ScriptEngine;
using scripthost::ScriptHostObject;
using scripthost::ScriptTimers;

const wchar_t* const kQuietRunScripts[4] = {L"js\\contents.js", L"js\\installparams.js", L"js\\stubparams.js",
                                            L"js\\external.js"};

namespace {

// The one page that Load.html moves on to.
constexpr wchar_t kDownloadPage[] = L"Download.html";
// No script file of the pages comes near this; a larger one is not a page's.
constexpr LONGLONG kScriptFileLimit = 4 * 1024 * 1024;

// A script file of the payload as the page's engine would read it: UTF-8, a byte-order mark dropped.
bool readScriptFile(const std::wstring& path, std::wstring& text) {
  sysenv::UniqueFileHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kScriptFileLimit) return false;
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() && !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
    return false;
  }
  bytes.resize(read);
  std::u16string decoded;
  if (!payload::decodeUtf8(bytes, decoded)) return false;
  if (!decoded.empty() && decoded[0] == u'\xFEFF') decoded.erase(0, 1);
  text = sysenv::toWide(decoded);
  return true;
}

// What the pages show, for a run that shows nothing: stage changes and errors go to the log, and a
// navigation is kept for the loop to carry out once the current script call has returned.
class QuietView final : public ScriptHostObject {
 public:
  explicit QuietView(Logger* logger)
      : ScriptHostObject({L"navigate", L"showTexts", L"showProgress", L"showError"}), logger_(logger) {}

  // The page asked for since the last call, if any.
  bool takeNavigation(std::wstring& page) {
    if (pendingPage_.empty()) return false;
    page.swap(pendingPage_);
    pendingPage_.clear();
    return true;
  }

 private:
  enum Method : std::size_t { kNavigate, kShowTexts, kShowProgress, kShowError };

  HRESULT callMethod(std::size_t method, const std::vector<const VARIANT*>& arguments, VARIANT*) override {
    std::wstring text;
    switch (method) {
      case kNavigate:
        if (!textArgument(arguments, 0, text)) return E_INVALIDARG;
        pendingPage_ = text;
        return S_OK;
      case kShowTexts:
        return S_OK;  // nothing shows them
      case kShowProgress:
        // Once per stage: the page reports progress on every poll.
        if (textArgument(arguments, 1, text) && text != stage_) {
          stage_ = text;
          logger_->debug(L"Quiet: %s", stage_.c_str());
        }
        return S_OK;
      case kShowError:
        if (textArgument(arguments, 0, text)) logger_->error(L"Quiet: %s", text.c_str());
        return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

  Logger* logger_;
  std::wstring pendingPage_;
  std::wstring stage_;
};

// The scripts in one engine, up to the close; false as runQuietWorkflow says.
bool runScripts(const std::wstring& payloadFolder, downloadmanagercore::HtmlExternal* scriptObject, Logger& logger) {
  ScriptEngine engine(&logger);
  if (!engine.ok()) return false;
  Microsoft::WRL::ComPtr<ScriptTimers> timers;
  timers.Attach(ScriptTimers::create(&logger));
  if (!timers) {
    logger.error(L"Quiet: the timer window cannot be made");
    return false;
  }
  Microsoft::WRL::ComPtr<QuietView> view;
  view.Attach(new QuietView(&logger));
  // Whatever happens below, nothing of the script outlives the engine's apartment.
  struct Close {
    ScriptEngine& engine;
    ScriptTimers& timers;
    ~Close() {
      timers.clearAll();
      engine.close();
    }
  } close{engine, *timers.Get()};

  if (!engine.addNamedItem(L"external", static_cast<IDispatchEx*>(scriptObject))) return false;
  for (const wchar_t* script : kQuietRunScripts) {
    std::wstring text;
    if (!readScriptFile(payloadFolder + script, text)) {
      logger.error(L"Quiet: %s cannot be read", script);
      return false;
    }
    if (!engine.runScript(text, script)) return false;
  }

  logger.debug(L"Quiet: %s", kStartPage);
  engine.callFunction(L"runLoadPage", {view.Get()});
  bool downloadPageShown = false;
  bool closed = false;
  for (;;) {
    if (scriptObject->quietCloseRequested()) {
      closed = true;
      break;
    }
    if (engine.errorCount() != 0 || timers->failures() != 0) {
      logger.error(L"Quiet: the workflow script failed, the run ends");
      break;
    }
    std::wstring page;
    if (view->takeNavigation(page)) {
      if (page != kDownloadPage) {
        logger.error(L"Quiet: no page %s, the run ends", page.c_str());
        break;
      }
      logger.debug(L"Quiet: %s", page.c_str());
      if (downloadPageShown) engine.callFunction(L"stopDownloadPage", {});  // the page's unload
      downloadPageShown = true;
      engine.callFunction(L"startDownloadPage", {view.Get(), timers.Get()});
      continue;
    }
    MSG message;
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      logger.error(L"Quiet: the message loop ended before the workflow");
      break;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  // The page's unload, as when the window goes: timers stop, closing is allowed again.
  if (downloadPageShown) engine.callFunction(L"stopDownloadPage", {});
  return closed;
}

}  // namespace

bool runQuietWorkflow(const std::wstring& payloadFolder, downloadmanagercore::HtmlExternal* scriptObject,
                      Logger& logger) {
  scriptObject->enableQuietMode();
  PageApartment apartment(logger);
  const bool closed = runScripts(payloadFolder, scriptObject, logger);
  // Page functions that the script stored on the object belong to the engine's apartment.
  scriptObject->releaseMemberValues();
  return closed;
}

int runQuiet(const std::wstring& payloadFolder, sorvane::SorvaneExternal* scriptObject, InstallProperties& properties,
             Logger& logger, downloadmanagercore::Analytics& analytics) {
  runWithReports(
      payloadFolder,
      [&](const std::wstring& folder) {
        const bool closed = runQuietWorkflow(folder, scriptObject, logger);
        // Nothing would ever tell an unattended installer that it was left unfinished.
        if (!closed && properties.status != kStatusCompleted) properties.status = kStatusErrorOccurred;
        // Here, while the log is still open: the error branch closes it.
        logger.debug(L"Quiet: status %d, exit code %d", static_cast<int>(properties.status),
                     quietExitCode(properties.status, scriptObject->installerExitCode()));
        return closed;
      },
      properties, logger, analytics);
  return quietExitCode(properties.status, scriptObject->installerExitCode());
}

}  // namespace app
