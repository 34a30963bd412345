// The packaging tool: signs the stub with osslsigncode and puts the UI payload container into the
// signed file's certificate table; lists the container of a packed file; prints a signed file's
// Authenticode digest; compares a release with a rebuild of it. Runs on the build machine.
//
//   stubpack pack --stub IN.exe --payload DIR --list LIST --cert CERT.pem --key KEY.pem --out OUT.exe
//                 [--package-sha256 HEX | --package-sha256-of PACKAGE]
//                 [--package-signer NAME] [--package-signer-key HEX | --package-signer-cert CERT.pem]
//                 [--manifest-key HEX | --manifest-key-cert CERT.pem] [--version-floor A.B.C.D]
//                 [--release] [--timestamp-url URL] [--osslsigncode PROGRAM]
//   stubpack sign-package PACKAGE --cert CERT.pem --key KEY.pem --version A.B.C.D --expires YYYY-MM-DD
//                 [--out MANIFEST]
//   stubpack list PACKED.exe
//   stubpack digest SIGNED.exe
//   stubpack compare GIVEN.exe REBUILT.exe
//
// Before signing, the stub's trust slot receives the container's digest and the package pins, so
// that the signature covers them; a name pin needs a key pin beside it. --release marks the slot as
// a release's, whose stub runs only with its package pinned. After signing, the slot of the signed
// file is read back and printed, and the pack fails when it is not what was written or lacks a pin. With --timestamp-url, the signature is time-stamped by that RFC 3161
// service, so that Windows still trusts it after the certificate expires.
//
// sign-package writes the package's signed manifest (PACKAGE.manifest unless --out names another
// file): its name, size, SHA-256, version and expiry, signed as CMS (SHA-256) with the key.
//
// Exit codes: 0 done (compare: "reproduced"), 1 refused or failed (the reason on stderr, no output
// file made; compare: a difference, named on stdout), 2 usage.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "downloadmanagercore/package_manifest.h"
#include "downloadmanagercore/package_trust.h"
#include "payload/language_list.h"
#include "stubpack/container.h"
#include "stubpack/manifest_signing.h"
#include "stubpack/trust_pins.h"
#include "stubpack/packer.h"
#include "stubpack/pe_image.h"
#include "stubpack/release_compare.h"

namespace {

using stubpack::Bytes;
namespace fs = std::filesystem;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr const char* kSignatureDescription = "Sorvane Pro";

int failed(const std::string& message) {
  std::cerr << "stubpack: " << message << "\n";
  return kExitFailed;
}

int usage() {
  std::cerr << "usage:\n"
               "  stubpack pack --stub IN.exe --payload DIR --list LIST --cert CERT.pem --key KEY.pem --out OUT.exe\n"
               "                [--package-sha256 HEX | --package-sha256-of PACKAGE]\n"
               "                [--package-signer NAME] [--package-signer-key HEX | --package-signer-cert CERT.pem]\n"
               "                [--manifest-key HEX | --manifest-key-cert CERT.pem] [--version-floor A.B.C.D]\n"
               "                [--release] [--timestamp-url URL] [--osslsigncode PROGRAM]\n"
               "  stubpack sign-package PACKAGE --cert CERT.pem --key KEY.pem --version A.B.C.D --expires YYYY-MM-DD\n"
               "                [--out MANIFEST]\n"
               "  stubpack list PACKED.exe\n"
               "  stubpack digest SIGNED.exe\n"
               "  stubpack compare GIVEN.exe REBUILT.exe\n";
  return kExitUsage;
}

bool readWholeFile(const std::string& path, Bytes* bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  return true;
}

bool writeNewFile(const std::string& path, const Bytes& bytes, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
  if (fd < 0) {
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = "cannot write " + path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// Runs a program with its output collected; the exit code, or -1 when it could not be started or
// did not exit normally.
int runProgram(const std::vector<std::string>& arguments, std::string* output) {
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    return -1;
  }
  if (child == 0) {
    ::dup2(pipeEnds[1], STDOUT_FILENO);
    ::dup2(pipeEnds[1], STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(errno));
    ::_exit(127);
  }
  ::close(pipeEnds[1]);
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    output->append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeEnds[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A folder beside the output, so that the finished file can be renamed into place atomically;
// removed with whatever is left in it when the pack ends, on every path.
class WorkFolder {
 public:
  explicit WorkFolder(const fs::path& besideFile) {
    std::string pattern = (besideFile.parent_path() / ".stubpack-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~WorkFolder() {
    if (!path_.empty()) {
      std::error_code ignored;
      fs::remove_all(path_, ignored);
    }
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

int pack(const std::map<std::string, std::string>& options) {
  for (const char* required : {"--stub", "--payload", "--list", "--cert", "--key", "--out"}) {
    if (options.count(required) == 0) {
      std::cerr << "stubpack pack: " << required << " is required\n";
      return usage();
    }
  }
  const std::string out = options.at("--out");
  std::string error;

  // Everything about the payload is checked before anything is signed or written.
  Bytes listBytes;
  if (!readWholeFile(options.at("--list"), &listBytes, &error)) return failed(error);
  std::vector<std::u16string> paths;
  if (!stubpack::parseEntryList(std::string(listBytes.begin(), listBytes.end()), &paths, &error)) {
    return failed(options.at("--list") + ": " + error);
  }
  std::vector<stubpack::PayloadFile> files;
  for (const std::u16string& path : paths) {
    std::string relative = stubpack::utf16ToUtf8(path);
    const std::string shown = relative;
    for (char& c : relative) {
      if (c == '\\') c = '/';
    }
    const fs::path source = fs::path(options.at("--payload")) / relative;
    struct stat status;
    if (::stat(source.c_str(), &status) != 0) return failed(shown + ": " + source.string() + ": " + std::strerror(errno));
    if (!S_ISREG(status.st_mode)) return failed(shown + ": " + source.string() + " is not a regular file");
    const std::string sizeProblem = stubpack::entrySizeProblem(static_cast<std::uint64_t>(status.st_size));
    if (!sizeProblem.empty()) return failed(shown + ": " + sizeProblem);
    stubpack::PayloadFile file;
    file.path = path;
    if (!readWholeFile(source.string(), &file.data, &error)) return failed(error);
    files.push_back(std::move(file));
  }

  payload::TrustSlot slot;
  slot.container = stubpack::containerDigest(files);
  if (options.count("--package-sha256") != 0) {
    const std::string& text = options.at("--package-sha256");
    const auto digest = downloadmanagercore::parseHexDigest(std::u16string(text.begin(), text.end()));
    if (!digest) return failed("--package-sha256: not 64 hexadecimal digits: " + text);
    slot.packageSha256 = *digest;
  }
  if (options.count("--package-sha256-of") != 0) {
    if (slot.packageSha256) return failed("--package-sha256 and --package-sha256-of: give one of them");
    Bytes package;
    if (!readWholeFile(options.at("--package-sha256-of"), &package, &error)) return failed(error);
    slot.packageSha256 = stubpack::sha256(package);
  }
  if (options.count("--package-signer") != 0 &&
      !payload::decodeUtf8(options.at("--package-signer"), slot.packageSigner)) {
    return failed("--package-signer: not valid UTF-8");
  }
  if (options.count("--package-signer-key") != 0) {
    const std::string& text = options.at("--package-signer-key");
    const auto digest = downloadmanagercore::parseHexDigest(std::u16string(text.begin(), text.end()));
    if (!digest) return failed("--package-signer-key: not 64 hexadecimal digits: " + text);
    slot.packageSignerKey = *digest;
  }
  if (options.count("--package-signer-cert") != 0) {
    if (slot.packageSignerKey) return failed("--package-signer-key and --package-signer-cert: give one of them");
    Bytes pem;
    if (!readWholeFile(options.at("--package-signer-cert"), &pem, &error)) return failed(error);
    slot.packageSignerKey = stubpack::certificateKeyDigest(pem, &error);
    if (!slot.packageSignerKey) return failed("--package-signer-cert: " + options.at("--package-signer-cert") + ": " + error);
  }
  // Any certificate can carry any name; where the chain goes unchecked (Wine), only a key protects.
  if (!slot.packageSigner.empty() && !slot.packageSignerKey) {
    return failed("--package-signer needs --package-signer-key or --package-signer-cert: a name alone is what any "
                  "certificate of that name carries");
  }
  if (options.count("--manifest-key") != 0) {
    const std::string& text = options.at("--manifest-key");
    slot.manifestKey = downloadmanagercore::parseHexDigest(std::u16string(text.begin(), text.end()));
    if (!slot.manifestKey) return failed("--manifest-key: not 64 hexadecimal digits: " + text);
  }
  if (options.count("--manifest-key-cert") != 0) {
    if (slot.manifestKey) return failed("--manifest-key and --manifest-key-cert: give one of them");
    Bytes pem;
    if (!readWholeFile(options.at("--manifest-key-cert"), &pem, &error)) return failed(error);
    slot.manifestKey = stubpack::certificateKeyDigest(pem, &error);
    if (!slot.manifestKey) return failed("--manifest-key-cert: " + options.at("--manifest-key-cert") + ": " + error);
  }
  if (options.count("--version-floor") != 0) {
    if (!slot.manifestKey) return failed("--version-floor needs --manifest-key or --manifest-key-cert");
    const auto floor = downloadmanagercore::parseProductVersion(options.at("--version-floor"));
    if (!floor) return failed("--version-floor: not a.b.c.d (0 to 65535 each): " + options.at("--version-floor"));
    slot.versionFloor = *floor;
  }
  slot.release = options.count("--release") != 0;
  Bytes stub;
  if (!readWholeFile(options.at("--stub"), &stub, &error)) return failed(error);
  if (!stubpack::fillTrustSlot(stub, slot, &error)) return failed(options.at("--stub") + ": " + error);

  WorkFolder work{fs::absolute(out)};
  if (work.path().empty()) return failed("cannot make a work folder beside " + out + ": " + std::strerror(errno));
  const fs::path pinnedPath = work.path() / "pinned.exe";
  if (!writeNewFile(pinnedPath.string(), stub, &error)) return failed(error);
  const fs::path signedPath = work.path() / "signed.exe";
  const std::string signer = options.count("--osslsigncode") != 0 ? options.at("--osslsigncode") : "osslsigncode";
  std::vector<std::string> signArguments = {signer, "sign", "-certs", options.at("--cert"), "-key",
                                            options.at("--key"), "-h", "sha256", "-n", kSignatureDescription};
  if (options.count("--timestamp-url") != 0) {
    signArguments.insert(signArguments.end(), {"-ts", options.at("--timestamp-url")});
  }
  signArguments.insert(signArguments.end(), {"-in", pinnedPath.string(), "-out", signedPath.string()});
  std::string signerOutput;
  const int signerExit = runProgram(signArguments, &signerOutput);
  if (signerExit != 0) {
    std::cerr << signerOutput;
    return failed("signing " + options.at("--stub") + " failed (" + signer + " exit " + std::to_string(signerExit) + ")");
  }

  Bytes signedImage;
  if (!readWholeFile(signedPath.string(), &signedImage, &error)) return failed(error);
  // What the stub will read is the slot of the signed file, not what was meant to go into it.
  payload::TrustSlot signedSlot;
  const bool slotOk = stubpack::checkSignedTrustSlot(signedImage, slot, &signedSlot, &error);
  std::cout << stubpack::describeTrustSlot(signedSlot);
  if (!slotOk) return failed(error);
  Bytes packed;
  if (!stubpack::packContainer(signedImage, files, &packed, &error)) return failed(options.at("--stub") + ": " + error);
  const fs::path packedPath = work.path() / "packed.exe";
  if (!writeNewFile(packedPath.string(), packed, &error)) return failed(error);
  if (::rename(packedPath.c_str(), out.c_str()) != 0) return failed("cannot rename into " + out + ": " + std::strerror(errno));
  std::cout << "stubpack: " << out << ": signed, " << files.size() << " entries packed, " << packed.size()
            << " bytes\n";
  return 0;
}

int signPackage(const std::string& packagePath, const std::map<std::string, std::string>& options) {
  for (const char* required : {"--cert", "--key", "--version", "--expires"}) {
    if (options.count(required) == 0) {
      std::cerr << "stubpack sign-package: " << required << " is required\n";
      return usage();
    }
  }
  downloadmanagercore::PackageManifest manifest;
  manifest.file = fs::path(packagePath).filename().string();
  const auto version = downloadmanagercore::parseProductVersion(options.at("--version"));
  if (!version) return failed("--version: not a.b.c.d (0 to 65535 each): " + options.at("--version"));
  manifest.version = *version;
  const auto expires = downloadmanagercore::parseUtcTime(options.at("--expires"));
  if (!expires) return failed("--expires: not YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ: " + options.at("--expires"));
  manifest.expires = *expires;
  std::string error;
  Bytes package;
  if (!readWholeFile(packagePath, &package, &error)) return failed(error);
  if (package.empty() || package.size() > 0xFFFFFFFFull) return failed(packagePath + ": not 1 byte to 4 GiB - 1");
  manifest.size = package.size();
  manifest.sha256 = stubpack::sha256(package);
  const std::string text = downloadmanagercore::formatPackageManifest(manifest);
  std::string check;
  if (!downloadmanagercore::parsePackageManifest(text, &check)) return failed(packagePath + ": " + check);
  Bytes cert;
  Bytes key;
  if (!readWholeFile(options.at("--cert"), &cert, &error) || !readWholeFile(options.at("--key"), &key, &error)) {
    return failed(error);
  }
  Bytes signedManifest;
  if (!stubpack::signManifest(text, cert, key, &signedManifest, &error)) return failed(error);
  const std::string out = options.count("--out") != 0 ? options.at("--out") : packagePath + ".manifest";
  std::error_code ignored;
  fs::remove(out, ignored);
  if (!writeNewFile(out, signedManifest, &error)) return failed(error);
  std::cout << text << "stubpack: " << out << ": signed manifest, " << signedManifest.size() << " bytes\n";
  return 0;
}

int list(const std::string& path) {
  Bytes image;
  std::string error;
  if (!readWholeFile(path, &image, &error)) return failed(error);
  stubpack::ContainerListing listing;
  if (!stubpack::readContainer(image, &listing, &error)) return failed(path + ": " + error);
  std::uint64_t dataBytes = 0;
  for (const stubpack::ContainerEntry& entry : listing.entries) {
    std::cout << stubpack::utf16ToUtf8(entry.path) << "\t" << entry.size << "\n";
    dataBytes += entry.size;
  }
  std::cout << listing.entries.size() << " entries, " << dataBytes << " bytes of data; container at offset "
            << listing.start << ", fill " << listing.fill << " bytes, file " << image.size() << " bytes\n";
  return 0;
}

int digest(const std::string& path) {
  Bytes image;
  std::string error;
  if (!readWholeFile(path, &image, &error)) return failed(error);
  stubpack::CertificateTable table;
  if (!stubpack::locateCertificateTable(image, &table, &error)) return failed(path + ": " + error);
  const std::string hex = stubpack::authenticodeDigest(image, table);
  if (hex.empty()) return failed("SHA-256 is not available");
  std::cout << hex << "  " << path << "\n";
  return 0;
}

// Everything but the signature: the image under the Authenticode digest, then the container.
int compare(const std::string& givenPath, const std::string& rebuiltPath) {
  Bytes given;
  Bytes rebuilt;
  std::string error;
  if (!readWholeFile(givenPath, &given, &error) || !readWholeFile(rebuiltPath, &rebuilt, &error)) return failed(error);
  stubpack::ReleaseComparison comparison;
  if (!stubpack::compareReleases(given, rebuilt, &comparison, &error)) return failed(error);
  std::cout << "Authenticode digest " << comparison.givenDigest << "  " << givenPath << "\n"
            << "Authenticode digest " << comparison.rebuiltDigest << "  " << rebuiltPath << "\n";
  if (!comparison.firstDifference.empty()) {
    std::cout << "differs: " << comparison.firstDifference << "\n";
    return kExitFailed;
  }
  std::cout << "reproduced\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  if (command == "list") {
    if (argc != 3) return usage();
    return list(argv[2]);
  }
  if (command == "digest") {
    if (argc != 3) return usage();
    return digest(argv[2]);
  }
  if (command == "compare") {
    if (argc != 4) return usage();
    return compare(argv[2], argv[3]);
  }
  if (command == "pack") {
    std::map<std::string, std::string> options;
    for (int i = 2; i < argc; i += 2) {
      const std::string name = argv[i];
      static const char* const known[] = {"--stub",           "--payload",        "--list", "--cert", "--key", "--out",
                                          "--package-sha256", "--package-sha256-of", "--package-signer", "--timestamp-url",
                                          "--osslsigncode", "--package-signer-key", "--package-signer-cert",
                                          "--manifest-key", "--manifest-key-cert", "--version-floor"};
      if (name == "--release") {
        if (options.count(name) != 0) return usage();
        options[name] = "";
        --i;  // a flag without a value
        continue;
      }
      bool isKnown = false;
      for (const char* k : known) isKnown = isKnown || name == k;
      if (!isKnown || i + 1 >= argc || options.count(name) != 0) return usage();
      options[name] = argv[i + 1];
    }
    return pack(options);
  }
  if (command == "sign-package") {
    if (argc < 3) return usage();
    std::map<std::string, std::string> options;
    for (int i = 3; i < argc; i += 2) {
      const std::string name = argv[i];
      const bool known = name == "--cert" || name == "--key" || name == "--version" || name == "--expires" ||
                         name == "--out";
      if (!known || i + 1 >= argc || options.count(name) != 0) return usage();
      options[name] = argv[i + 1];
    }
    return signPackage(argv[2], options);
  }
  return usage();
}
