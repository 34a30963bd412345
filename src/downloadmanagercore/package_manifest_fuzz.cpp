// libFuzzer target: the input is a verified manifest's text as the stub reads it. Whatever parses
// must come back the same through the writer, and the refusal rules must never accept a text that
// does not parse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "downloadmanagercore/package_manifest.h"

namespace dmc = downloadmanagercore;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto manifest = dmc::parsePackageManifest(text, &error);
  if (manifest) {
    std::string again;
    const auto reread = dmc::parsePackageManifest(dmc::formatPackageManifest(*manifest), &again);
    if (!reread || reread->file != manifest->file || reread->size != manifest->size ||
        reread->sha256 != manifest->sha256 || reread->version != manifest->version ||
        reread->expires != manifest->expires) {
      std::abort();
    }
  } else if (error.empty()) {
    std::abort();
  }
  dmc::ManifestPolicy policy;
  dmc::PackageManifest accepted;
  std::u16string line;
  const std::uint32_t code = dmc::manifestRefusal(policy, policy.signerKey, text, "SorvanePro.zip", 0, &accepted, &line);
  if (code == 0 && (!manifest || accepted.file != "SorvanePro.zip")) std::abort();
  if (code != 0 && line.empty()) std::abort();
  return 0;
}
