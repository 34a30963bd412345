// The installer contract of the product's setup.exe: how it is started and what its exit code means
// to the page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sorvane {

// Windows Installer's product codes, by the machine's architecture ("x64" or anything else).
constexpr char16_t kProductCode64[] = u"{3C7E52A1-90B4-4F6D-8E21-5AD0C47B19E3}";
constexpr char16_t kProductCode32[] = u"{B81F0D64-2E3A-47C9-9B58-E6174A03C2DF}";
const char16_t* productCodeFor(const std::u16string& architecture);

// "<installer>" <arguments> /L*v "<log>": the arguments as given, so when they begin with a blank (an
// empty pass-through text) two blanks follow the quoted path. The installer reads its own command
// line, so nothing is escaped.
std::u16string installerCommandLine(const std::u16string& installerPath, const std::u16string& arguments,
                                    const std::u16string& logPath);

// The installer's environment block: `block` (NUL-terminated "NAME=value" strings, then one more
// NUL, as GetEnvironmentStringsW gives it) with TEMP and TMP, in whatever case they were named,
// replaced by `temporaryFolder` (added where they were missing), everything else unchanged and in
// its order. An elevated installer and its bootstrapper must not work in the user's temporary
// folder, where a process without elevation can plant files.
std::u16string installerEnvironment(std::u16string_view block, const std::u16string& temporaryFolder);

// The page's result code for the installer's exit code: 0 done (also with a reboot requested),
// 2 cancelled by the user, 3 failed, 4 another installation running, 1 anything else.
std::int32_t installResultFromExitCode(std::uint32_t exitCode);
// What the page hears when the installer could not even be started.
constexpr std::int32_t kInstallerNotStarted = 3;
// What the page hears when there is no work folder, so no installer of ours to start.
constexpr std::int32_t kInstallFailed = 1;

}  // namespace sorvane
