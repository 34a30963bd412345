// Win32 code. The process-wide machine id and the request token.
#include "telemetry/machine_id_win.h"

#include <objbase.h>

#include "sysenv/critical_section_win.h"
#include "sysenv/wide_text_win.h"
#include "telemetry/identity_placeholders.h"

namespace telemetry {
namespace {

// The id once resolved, behind a lock: start-up fills it on the first thread, but the crash handler
// may read it from whichever thread crashed. A critical section may be entered again by its owner,
// so a crash inside the resolution itself does not hang the crash handler. Made on first use and
// never destroyed, so a crash during exit still finds it.
struct MachineIdCache {
  sysenv::CriticalSection lock;
  std::wstring id;
};

MachineIdCache& cache() {
  static MachineIdCache* const instance = new MachineIdCache();
  return *instance;
}

class CacheLock {
 public:
  CacheLock() : hold_(cache().lock) {}

 private:
  sysenv::CriticalSectionLock hold_;
};

bool cachedMachineId(std::wstring& id) {
  CacheLock lock;
  id = cache().id;
  return !id.empty();
}

}  // namespace

std::wstring getMachineId() {
  std::wstring id;
  // Once cached, nothing else is done, not even COM: this is all the crash handler's call does.
  if (cachedMachineId(id)) return id;
  const HRESULT com = CoInitialize(nullptr);
  const bool resolved = detail::resolveMachineId(id);
  // A thread already in the other apartment kind refuses (RPC_E_CHANGED_MODE); uninitialising
  // then would end an apartment that is not ours.
  if (SUCCEEDED(com)) CoUninitialize();
  return resolved ? id : sysenv::toWide(kMachineIdPlaceholder);
}

std::wstring newRequestToken() {
  std::wstring token;
  return detail::newGuidString(token) ? token : sysenv::toWide(kRequestTokenPlaceholder);
}

namespace detail {

bool resolveMachineId(std::wstring& id) {
  // Held while resolving, so that two first calls cannot make and store two different ids.
  CacheLock lock;
  if (cache().id.empty()) {
    const std::optional<std::u16string> resolved = resolveMachineIdFrom(systemMachineIdSources());
    if (!resolved) return false;  // nothing cached: a later call tries again
    cache().id = sysenv::toWide(*resolved);
  }
  id = cache().id;
  return true;
}

void forgetCachedMachineId() {
  CacheLock lock;
  cache().id.clear();
}

bool newGuidString(std::wstring& guid) {
  GUID value;
  if (CoCreateGuid(&value) != S_OK) return false;
  wchar_t text[64] = {};
  // "{6B29FC40-CA47-1067-B31D-00DD010662DA}" and the terminator.
  if (StringFromGUID2(value, text, 64) != 39) return false;
  guid.assign(text + 1, kGuidPatternLength);
  return true;
}

MachineIdSources systemMachineIdSources() {
  MachineIdSources sources;
  sources.queryVirtualMachine = isVirtualMachine;
  sources.readStoredId = []() -> std::optional<std::u16string> {
    std::wstring id;
    if (!readMachineIdFile(id)) return std::nullopt;
    return sysenv::toU16(id);
  };
  sources.storeId = [](const std::u16string& id) { return writeMachineIdFile(sysenv::toWide(id)); };
  sources.folderRefused = machineIdFolderRefused;
  sources.newGuid = []() -> std::optional<std::u16string> {
    std::wstring guid;
    if (!newGuidString(guid)) return std::nullopt;
    return sysenv::toU16(guid);
  };
  sources.collectAddresses = [] {
    std::vector<std::wstring> found;
    collectMacAddresses(found);
    std::vector<std::u16string> addresses;
    for (const std::wstring& address : found) addresses.push_back(sysenv::toU16(address));
    return addresses;
  };
  return sources;
}

}  // namespace detail
}  // namespace telemetry
