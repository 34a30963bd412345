// Win32 code. The permanent hardware addresses of the machine's network adapters, read from the
// adapters themselves (not the changeable current address), for the physical machine id.
#include <windows.h>

#include <setupapi.h>

#include <cstdint>
#include <vector>

#include "sysenv/scope_exit.h"
#include "sysenv/system_dll_win.h"
#include "sysenv/wide_text_win.h"
#include "telemetry/machine_id_win.h"

namespace telemetry::detail {
namespace {

// GUID_DEVINTERFACE_NET, defined here so that no GUID library is linked for it.
constexpr GUID kNetworkInterfaceClass = {0xAD498944, 0x762F, 0x11D0, {0x8D, 0xCB, 0x00, 0xC0, 0x4F, 0xC3, 0x35, 0x8C}};
// IOCTL_NDIS_QUERY_GLOBAL_STATS and OID_802_3_PERMANENT_ADDRESS (ntddndis.h).
constexpr DWORD kNdisQueryGlobalStats = 0x00170002;
constexpr DWORD kPermanentAddressOid = 0x01010101;
constexpr DWORD kDescriptionBytes = 2048;

struct AdapterEntry {
  std::wstring path;
  std::wstring description;
};

// SetupAPI is not a Known DLL: every function comes from System32 by name.
struct SetupApi {
  decltype(&SetupDiGetClassDevsW) getClassDevs =
      sysenv::systemFunction<decltype(&SetupDiGetClassDevsW)>(L"setupapi.dll", "SetupDiGetClassDevsW");
  decltype(&SetupDiEnumDeviceInterfaces) enumInterfaces =
      sysenv::systemFunction<decltype(&SetupDiEnumDeviceInterfaces)>(L"setupapi.dll", "SetupDiEnumDeviceInterfaces");
  decltype(&SetupDiGetDeviceInterfaceDetailW) getInterfaceDetail =
      sysenv::systemFunction<decltype(&SetupDiGetDeviceInterfaceDetailW)>(L"setupapi.dll",
                                                                            "SetupDiGetDeviceInterfaceDetailW");
  decltype(&SetupDiGetDeviceRegistryPropertyW) getRegistryProperty =
      sysenv::systemFunction<decltype(&SetupDiGetDeviceRegistryPropertyW)>(L"setupapi.dll",
                                                                             "SetupDiGetDeviceRegistryPropertyW");
  decltype(&SetupDiDestroyDeviceInfoList) destroyList =
      sysenv::systemFunction<decltype(&SetupDiDestroyDeviceInfoList)>(L"setupapi.dll", "SetupDiDestroyDeviceInfoList");

  bool loaded() const {
    return getClassDevs && enumInterfaces && getInterfaceDetail && getRegistryProperty && destroyList;
  }
};

// The present adapters' device-interface paths and descriptions, in the system's order.
std::vector<AdapterEntry> listNetworkAdapters() {
  std::vector<AdapterEntry> entries;
  const SetupApi api;
  if (!api.loaded()) return entries;
  HDEVINFO devices = api.getClassDevs(&kNetworkInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (devices == INVALID_HANDLE_VALUE) return entries;
  sysenv::ScopeExit destroy([&] { api.destroyList(devices); });

  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    if (!api.enumInterfaces(devices, nullptr, &kNetworkInterfaceClass, index, &interfaceData)) break;
    DWORD needed = 0;
    api.getInterfaceDetail(devices, &interfaceData, nullptr, 0, &needed, nullptr);
    if (needed == 0) break;
    // Zeroed, so the path is terminated however little the system writes.
    std::vector<std::uint8_t> detailBuffer(needed + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) + sizeof(wchar_t));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailBuffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);  // the fixed part: 6 on 32-bit, 8 on 64-bit
    // The device that owns this interface: its description is the one that belongs to the path
    // (the n-th device and the n-th interface need not be the same adapter).
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!api.getInterfaceDetail(devices, &interfaceData, detail, needed, nullptr, &device)) break;

    AdapterEntry entry;
    entry.path = detail->DevicePath;
    wchar_t description[kDescriptionBytes / sizeof(wchar_t) + 1] = {};
    if (api.getRegistryProperty(devices, &device, SPDRP_DEVICEDESC, nullptr, reinterpret_cast<BYTE*>(description),
                                kDescriptionBytes, nullptr)) {
      entry.description = description;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

// "00:1A:2B:3C:4D:5E" from the adapter's driver, or empty when it cannot be opened or answers with
// anything but 6 bytes.
std::wstring readPermanentAddress(const std::wstring& devicePath) {
  sysenv::UniqueFileHandle adapter(
      CreateFileW(devicePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!adapter) return std::wstring();
  DWORD oid = kPermanentAddressOid;
  std::uint8_t address[8] = {};
  DWORD returned = 0;
  if (!DeviceIoControl(adapter.get(), kNdisQueryGlobalStats, &oid, sizeof(oid), address, sizeof(address), &returned,
                       nullptr) ||
      returned != 6) {
    return std::wstring();
  }
  const std::uint8_t(&six)[6] = *reinterpret_cast<const std::uint8_t(*)[6]>(address);
  return sysenv::toWide(formatMacAddress(six));
}

}  // namespace

bool collectMacAddresses(std::vector<std::wstring>& addresses) {
  addresses.clear();
  for (const AdapterEntry& entry : listNetworkAdapters()) {
    if (isExcludedAdapterPath(sysenv::toU16(entry.path)) || isExcludedAdapterDescription(sysenv::toU16(entry.description))) {
      continue;
    }
    std::wstring address = readPermanentAddress(entry.path);
    if (!address.empty()) addresses.push_back(std::move(address));
  }
  return !addresses.empty();
}

}  // namespace telemetry::detail
