// What the receiver's tests send: analytics documents as the stub writes them, zip archives made
// with miniz (the stub's own writer), and minidumps laid out field by field as MiniDumpWriteDump
// writes them (header, stream directory, exception stream, module list, module names).
#pragma once

#include <miniz.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace receiver::testing {

struct ReportFields {
  std::string token = "0F8E2C4A-1B3D-4E5F-8A9B-0C1D2E3F4A5B";
  std::string status = "started";
  std::string version = "";
  std::string channel = "web";
  std::string os = "Windows 10";
  std::string architecture = "x64";
  std::string installLanguage = "English";
  std::string country = "244";
  int wrapperError = 0;
  int msiError = 0;
  std::string machineId = "P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C";
};

inline std::string reportDocument(const ReportFields& f) {
  return "<QXDLMAnalytics><requestToken>" + f.token + "</requestToken><country>" + f.country +
         "</country><mainApp><productId>KRV</productId><productVersion>" + f.version +
         "</productVersion><channelId>" + f.channel + "</channelId><installLanguage>" + f.installLanguage +
         "</installLanguage><status>" + f.status + "</status><serialKey></serialKey></mainApp><error><wrapperError>" +
         std::to_string(f.wrapperError) + "</wrapperError><msiError>" + std::to_string(f.msiError) +
         "</msiError></error><userEnvironment><OS>" + f.os + "</OS><language>English</language><architecture>" +
         f.architecture + "</architecture><defaultBrowser>Other</defaultBrowser></userEnvironment>"
         "<QXDLMVersion>1.0.20.1</QXDLMVersion><machineId>" + f.machineId + "</machineId></QXDLMAnalytics>";
}

// A zip archive in memory, each entry deflated at level 9 as the stub's writer does.
inline std::string zipArchive(const std::vector<std::pair<std::string, std::string>>& entries) {
  mz_zip_archive zip;
  std::memset(&zip, 0, sizeof zip);
  if (!mz_zip_writer_init_heap(&zip, 0, 0)) return {};
  for (const auto& [name, content] : entries) {
    mz_zip_writer_add_mem(&zip, name.c_str(), content.data(), content.size(), 9);
  }
  void* buffer = nullptr;
  std::size_t size = 0;
  mz_zip_writer_finalize_heap_archive(&zip, &buffer, &size);
  std::string bytes(static_cast<const char*>(buffer), size);
  mz_free(buffer);
  mz_zip_writer_end(&zip);
  return bytes;
}

inline std::string stubLog() {
  return "[20261209 18:20:39 101 DEBUG] QJDownload: http://127.0.0.1:8631/missing.zip\r\n"
         "[20261209 18:20:39 412 ERROR] QJDownload: the download failed with 404\r\n"
         "[20261209 18:20:40   7 DEBUG] status = 2\r\n"
         "[20261209 18:20:40   9 ERROR] QJInstall: no setup.exe\r\n";
}

struct FixtureModule {
  std::u16string path;
  std::uint64_t base;
  std::uint32_t size;
};

class DumpWriter {
 public:
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  void u64(std::uint64_t v) {
    u32(static_cast<std::uint32_t>(v));
    u32(static_cast<std::uint32_t>(v >> 32));
  }
  void zeros(std::size_t n) { bytes.append(n, '\0'); }
  void put32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  std::string bytes;
};

// A minidump with a system-info-like filler stream, the exception stream and the module list.
inline std::string minidump(std::uint32_t code, std::uint64_t address, const std::vector<FixtureModule>& modules) {
  DumpWriter w;
  const std::uint32_t streams = 3;
  w.u32(0x504D444D);
  w.u32(0x0000A793);
  w.u32(streams);
  w.u32(32);  // the directory follows the header
  w.u32(0);
  w.u32(0x674B5C3D);
  w.u64(0x21);  // MiniDumpWithDataSegs | MiniDumpWithHandleData style flags; unread
  const std::size_t directory = w.bytes.size();
  w.zeros(12 * streams);
  // Stream 0: a system-info stream (type 7) of 56 bytes that the reader skips.
  const std::size_t systemInfo = w.bytes.size();
  w.zeros(56);
  // Stream 1: the exception stream, 168 bytes.
  const std::size_t exception = w.bytes.size();
  w.u32(0x1234);  // thread id
  w.u32(0);
  w.u32(code);
  w.u32(0);   // flags
  w.u64(0);   // nested record
  w.u64(address);
  w.u32(2);   // parameters
  w.u32(0);
  w.zeros(15 * 8);
  w.u32(0);   // thread context location
  w.u32(0);
  // Stream 2: the module list, then the names.
  const std::size_t list = w.bytes.size();
  w.u32(static_cast<std::uint32_t>(modules.size()));
  std::vector<std::size_t> nameFields;
  for (const FixtureModule& m : modules) {
    w.u64(m.base);
    w.u32(m.size);
    w.u32(0);  // checksum
    w.u32(0);  // time stamp
    nameFields.push_back(w.bytes.size());
    w.u32(0);  // name RVA, set below
    w.zeros(52 + 8 + 8 + 8 + 8);
  }
  const std::size_t listEnd = w.bytes.size();
  for (std::size_t i = 0; i < modules.size(); ++i) {
    w.put32(nameFields[i], static_cast<std::uint32_t>(w.bytes.size()));
    w.u32(static_cast<std::uint32_t>(modules[i].path.size() * 2));
    for (const char16_t unit : modules[i].path) {
      w.bytes.push_back(static_cast<char>(unit & 0xFF));
      w.bytes.push_back(static_cast<char>(unit >> 8));
    }
    w.zeros(2);
  }
  const std::uint32_t entries[3][3] = {
      {7, 56, static_cast<std::uint32_t>(systemInfo)},
      {6, 168, static_cast<std::uint32_t>(exception)},
      {4, static_cast<std::uint32_t>(listEnd - list), static_cast<std::uint32_t>(list)},
  };
  for (std::uint32_t s = 0; s < streams; ++s) {
    for (int k = 0; k < 3; ++k) w.put32(directory + 12 * s + 4 * k, entries[s][k]);
  }
  return w.bytes;
}

inline std::string crashDump() {
  return minidump(0xC0000005, 0x140001A2B,
                  {{u"C:\\windows\\system32\\ntdll.dll", 0x7FF800000000, 0x200000},
                   {u"C:\\users\\root\\Temp\\SorvaneProSetup.exe", 0x140000000, 0x100000}});
}

}  // namespace receiver::testing
