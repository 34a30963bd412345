// The packaging tool as the build runs it: real PE files from mingw (PE32 and PE32+), the real
// osslsigncode and the shipped entry list. The packed files are checked byte by byte here, without
// the tool's own parser, and by osslsigncode's verifier.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes readBytes(const fs::path& path) {
  const std::string text = readText(path);
  return Bytes(text.begin(), text.end());
}

void writeText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
  return b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) | (static_cast<std::uint32_t>(b.at(at + 3)) << 24);
}

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "stubpack-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

ToolRun run(const std::vector<std::string>& arguments) {
  TempFolder capture;
  const fs::path outPath = capture.path() / "out";
  const fs::path errPath = capture.path() / "err";
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ToolRun result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = readText(outPath);
  result.err = readText(errPath);
  return result;
}

std::vector<std::string> entryList() {
  std::vector<std::string> paths;
  std::istringstream lines(readText(environment("STUBPACK_ENTRY_LIST")));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] != '#') paths.push_back(line);
  }
  return paths;
}

fs::path fileFor(const fs::path& folder, std::string entry) {
  for (char& c : entry) {
    if (c == '\\') c = '/';
  }
  return folder / entry;
}

// Stand-in payload files of varied sizes (one empty, one odd-sized) for every entry of the list.
void stagePayload(const fs::path& folder, const std::vector<std::string>& entries) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::string content;
    for (std::size_t k = 0; k < i * 211 + (i % 3); ++k) content += static_cast<char>((k * 31 + i) & 0xFF);
    writeText(fileFor(folder, entries[i]), content);
  }
}

class StubpackCli : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = environment("STUBPACK_EXE");
    cert_ = environment("STUBPACK_CERT_DIR") + "/test-cert.pem";
    key_ = environment("STUBPACK_CERT_DIR") + "/test-key.pem";
    fixtures_ = environment("STUBPACK_FIXTURES");
    ASSERT_TRUE(fs::exists(tool_) && fs::exists(cert_) && fs::exists(fixtures_ / "pe32.exe"));
    entries_ = entryList();
    ASSERT_EQ(entries_.size(), 15u);
    payload_ = temp_.path() / "payload";
    stagePayload(payload_, entries_);
    list_ = environment("STUBPACK_ENTRY_LIST");
  }

  ToolRun pack(const fs::path& stub, const fs::path& out, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> arguments = {tool_,  "pack",        "--stub", stub.string(), "--payload", payload_.string(),
                                          "--list", list_.string(), "--cert", cert_,       "--key",     key_,
                                          "--out", out.string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return run(arguments);
  }

  std::vector<std::string> leftovers(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename().string());
    return names;
  }

  TempFolder temp_;
  std::string tool_, cert_, key_;
  fs::path fixtures_, payload_, list_;
  std::vector<std::string> entries_;
};

TEST_F(StubpackCli, PacksBothPeFormatsWithAValidSignatureAndTheContainerInTheTable) {
  for (const char* format : {"pe32.exe", "pe32plus.exe"}) {
    SCOPED_TRACE(format);
    const fs::path out = temp_.path() / (std::string("packed-") + format);
    const ToolRun packed = pack(fixtures_ / format, out);
    ASSERT_EQ(packed.exitCode, 0) << packed.err;

    const ToolRun verify = run({"osslsigncode", "verify", "-CAfile", cert_, "-in", out.string()});
    EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
    EXPECT_NE(verify.out.find("Signature verification: ok"), std::string::npos) << verify.out;
    EXPECT_EQ(verify.out.find("invalid PE checksum"), std::string::npos) << verify.out;

    const Bytes b = readBytes(out);
    const std::size_t optional = le32(b, 0x3C) + 24;
    const bool plus = b.at(optional + 1) == 0x02;
    EXPECT_EQ(plus, std::string(format) == "pe32plus.exe");
    const std::size_t directory = optional + (plus ? 112 : 96) + 4 * 8;
    const std::size_t table = le32(b, directory);
    const std::size_t tableSize = le32(b, directory + 4);
    EXPECT_EQ(table + tableSize, b.size());
    EXPECT_EQ(tableSize % 8, 0u);
    EXPECT_EQ(le32(b, table), tableSize);  // dwLength
    EXPECT_EQ(le32(b, table + 4), 0x00020200u);  // revision 2, PKCS#7
    // osslsigncode's signatures of this size take two DER length bytes.
    ASSERT_EQ(b.at(table + 8), 0x30);
    ASSERT_EQ(b.at(table + 9), 0x82);
    const std::size_t signatureEnd = table + 12 + (b.at(table + 10) << 8 | b.at(table + 11));
    EXPECT_EQ(le32(b, b.size() - 4), signatureEnd);

    std::size_t at = signatureEnd;
    for (const std::string& entry : entries_) {
      for (std::size_t i = 0; i < 260; ++i) {
        const unsigned expected = i < entry.size() ? static_cast<unsigned char>(entry[i]) : 0;
        ASSERT_EQ(b.at(at + 2 * i) | (b.at(at + 2 * i + 1) << 8), expected) << entry << " unit " << i;
      }
      const Bytes data = readBytes(fileFor(payload_, entry));
      ASSERT_EQ(le32(b, at + 520), data.size()) << entry;
      ASSERT_EQ(le32(b, at + 524), 0u) << entry;
      ASSERT_TRUE(std::equal(data.begin(), data.end(), b.begin() + static_cast<std::ptrdiff_t>(at + 528))) << entry;
      at += 528 + data.size();
    }
    const std::size_t fill = b.size() - 4 - at;
    EXPECT_GE(fill, 524u);
    EXPECT_LT(fill, 532u);
    EXPECT_TRUE(std::all_of(b.begin() + static_cast<std::ptrdiff_t>(at), b.end() - 4, [](unsigned char c) { return c == 0; }));
  }
  // The payload and the two packed files: no work folder stays beside the output.
  EXPECT_EQ(leftovers(temp_.path()).size(), 3u);
}

TEST_F(StubpackCli, ListPrintsEveryEntryWithItsSize) {
  const fs::path out = temp_.path() / "packed.exe";
  ASSERT_EQ(pack(fixtures_ / "pe32.exe", out).exitCode, 0);
  const ToolRun listed = run({tool_, "list", out.string()});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  std::string expected;
  for (const std::string& entry : entries_) {
    expected += entry + "\t" + std::to_string(fs::file_size(fileFor(payload_, entry))) + "\n";
  }
  EXPECT_EQ(listed.out.substr(0, expected.size()), expected);
  EXPECT_NE(listed.out.find("15 entries"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find(" fill "), std::string::npos) << listed.out;
}

TEST_F(StubpackCli, ListFailsClearlyOnFilesWithoutAContainer) {
  const fs::path signedOnly = temp_.path() / "signed.exe";
  ASSERT_EQ(run({"osslsigncode", "sign", "-certs", cert_, "-key", key_, "-h", "sha256", "-in",
                 (fixtures_ / "pe32.exe").string(), "-out", signedOnly.string()})
                .exitCode,
            0);
  const struct {
    fs::path file;
    const char* reason;
  } cases[] = {
      {fixtures_ / "pe32.exe", "not signed"},
      {signedOnly, "no payload container"},
      {list_, "not a PE file"},
      {temp_.path() / "missing.exe", "cannot open"},
  };
  for (const auto& c : cases) {
    const ToolRun listed = run({tool_, "list", c.file.string()});
    EXPECT_EQ(listed.exitCode, 1) << c.file;
    EXPECT_NE(listed.err.find(c.reason), std::string::npos) << listed.err;
  }
}

TEST_F(StubpackCli, RefusalsExplainAndLeaveNoOutputBehind) {
  const fs::path outFolder = temp_.path() / "dist";
  fs::create_directories(outFolder);
  const fs::path signerAppending = temp_.path() / "signer-appending";
  writeText(signerAppending,
            "#!/bin/sh\n# The real signer, then bytes after the table.\nosslsigncode \"$@\" || exit 1\n"
            "while [ \"$1\" != -out ]; do shift; done\nprintf 'overlay!' >> \"$2\"\n");
  fs::permissions(signerAppending, fs::perms::owner_all);

  struct Case {
    const char* name;
    std::string listLine;  // replaces the list's first entry, when not empty
    std::vector<std::string> extra;
    const char* reason;
  };
  const Case cases[] = {
      {"absolute path", "\\Windows\\evil.dll", {}, "absolute"},
      {"drive prefix", "C:\\Windows\\evil.dll", {}, "drive"},
      {"dot-dot segment", "js\\..\\..\\evil.dll", {}, "'..'"},
      {"260 characters", std::string(260, 'a'), {}, "at most 259"},
      {"missing file", "js\\missing.js", {}, "No such file"},
      {"file of 4 GiB", "huge.bin", {}, "less than 4 GiB"},
      {"signer fails", "", {"--osslsigncode", "false"}, "signing"},
      {"table not last", "", {"--osslsigncode", signerAppending.string()}, "not the last thing"},
  };
  {
    std::ofstream huge(payload_ / "huge.bin", std::ios::binary);
  }
  fs::resize_file(payload_ / "huge.bin", 0x100000000ull);  // sparse: no disk space taken

  const std::string originalList = readText(list_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string listText = originalList;
    if (!c.listLine.empty()) listText = c.listLine + "\n" + originalList;
    const fs::path listFile = temp_.path() / "entries.list";
    writeText(listFile, listText);
    list_ = listFile;
    const fs::path out = outFolder / "SorvaneProSetup.exe";
    const ToolRun packed = pack(fixtures_ / "pe32.exe", out, c.extra);
    EXPECT_EQ(packed.exitCode, 1);
    EXPECT_NE(packed.err.find(c.reason), std::string::npos) << packed.err;
    EXPECT_EQ(leftovers(outFolder), std::vector<std::string>{});
  }
}

// The file offset of a section's data in a real PE file.
std::size_t sectionData(const Bytes& b, const std::string& name) {
  const std::size_t pe = le32(b, 0x3C);
  const std::size_t count = b.at(pe + 6) | (b.at(pe + 7) << 8);
  const std::size_t headers = pe + 24 + (b.at(pe + 20) | (b.at(pe + 21) << 8));
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t header = headers + 40 * i;
    if (std::string(reinterpret_cast<const char*>(&b.at(header)), name.size()) == name && b.at(header + name.size()) == 0) {
      return le32(b, header + 20);
    }
  }
  return 0;
}

TEST_F(StubpackCli, CompareTellsASecondSigningOfTheSameBuildFromAChangedByte) {
  const fs::path first = temp_.path() / "first.exe";
  const fs::path second = temp_.path() / "second.exe";
  ASSERT_EQ(pack(fixtures_ / "pe32.exe", first).exitCode, 0);
  ::sleep(1);  // another signing time
  ASSERT_EQ(pack(fixtures_ / "pe32.exe", second).exitCode, 0);
  ASSERT_NE(readBytes(first), readBytes(second));

  const ToolRun same = run({tool_, "compare", first.string(), second.string()});
  EXPECT_EQ(same.exitCode, 0) << same.out << same.err;
  EXPECT_NE(same.out.find("\nreproduced\n"), std::string::npos) << same.out;

  // The digest is the one the signer computed, as osslsigncode reads it back.
  const ToolRun digest = run({tool_, "digest", second.string()});
  ASSERT_EQ(digest.exitCode, 0) << digest.err;
  const ToolRun verify = run({"osslsigncode", "verify", "-CAfile", cert_, "-in", second.string()});
  std::string upper = digest.out.substr(0, 64);
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  EXPECT_NE(verify.out.find("Current message digest    : " + upper), std::string::npos) << verify.out;

  const Bytes packed = readBytes(second);
  const std::size_t container = le32(packed, packed.size() - 4);
  const struct {
    std::size_t offset;
    std::string named;
  } cases[] = {
      {le32(packed, 0x3C) + 8, "differs: the PE headers"},  // TimeDateStamp
      {sectionData(packed, ".text") + 100, "differs: section .text"},
      {sectionData(packed, ".rdata") + 1, "differs: section .rdata"},
      // The first entry is empty: the second one's data follows two headers.
      {container + 2 * 528 + 5, "differs: payload entry " + entries_[1] + " (first difference at byte 5"},
  };
  for (const auto& c : cases) {
    Bytes changed = packed;
    changed.at(c.offset) ^= 0x20;
    const fs::path file = temp_.path() / "changed.exe";
    fs::remove(file);
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(changed.data()), changed.size());
    const ToolRun differs = run({tool_, "compare", file.string(), first.string()});
    EXPECT_EQ(differs.exitCode, 1) << c.named;
    EXPECT_NE(differs.out.find(c.named), std::string::npos) << differs.out;
  }
}

TEST_F(StubpackCli, ATestBuildIsPackedUnpinnedAndSaysSo) {
  const fs::path out = temp_.path() / "test-build.exe";
  const ToolRun packed = pack(fixtures_ / "pe32.exe", out);
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  EXPECT_NE(packed.out.find("trust slot: test build (a release needs --release)\n"), std::string::npos) << packed.out;
  EXPECT_NE(packed.out.find("package SHA-256: none\n"), std::string::npos) << packed.out;
  EXPECT_NE(packed.out.find("installer signer: none\n"), std::string::npos) << packed.out;
}

TEST_F(StubpackCli, UsageErrorsExitWithTwo) {
  EXPECT_EQ(run({tool_}).exitCode, 2);
  EXPECT_EQ(run({tool_, "unpack", "x"}).exitCode, 2);
  EXPECT_EQ(run({tool_, "pack", "--stub", "x"}).exitCode, 2);
  EXPECT_EQ(run({tool_, "pack", "--stub"}).exitCode, 2);
  EXPECT_EQ(run({tool_, "compare", "x"}).exitCode, 2);
  EXPECT_EQ(run({tool_, "pack", "--release", "--release"}).exitCode, 2);
}

}  // namespace

namespace {

// The fixture's trust slot as the packed file carries it (found by its marker, which occurs once).
Bytes trustSlotOf(const Bytes& image) {
  const std::string marker = "SorvaneTrustSlot";
  const auto at = std::search(image.begin(), image.end(), marker.begin(), marker.end());
  if (at == image.end() || std::search(at + 1, image.end(), marker.begin(), marker.end()) != image.end()) return {};
  return Bytes(at, at + 512);
}

TEST_F(StubpackCli, PinsGoIntoTheSignedTrustSlot) {
  const fs::path out = temp_.path() / "pinned.exe";
  const std::string packageSha256(64, 'a');
  const ToolRun packed = pack(fixtures_ / "pe32.exe", out,
                              {"--package-sha256", packageSha256, "--package-signer", "Sorvane Software Ltd",
                               "--package-signer-cert", cert_, "--release"});
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  const Bytes slot = trustSlotOf(readBytes(out));
  ASSERT_EQ(slot.size(), 512u);
  EXPECT_EQ(le32(slot, 16), 1u);   // version
  EXPECT_EQ(le32(slot, 20), 31u);  // container, package, signer and its key pinned; a release's
  // The key pin is what openssl itself makes of the certificate's SubjectPublicKeyInfo.
  const fs::path spki = temp_.path() / "spki.der";
  ASSERT_EQ(run({"sh", "-c", "openssl x509 -in '" + cert_ + "' -pubkey -noout | openssl pkey -pubin -outform DER -out '" +
                                 spki.string() + "'"})
                .exitCode,
            0);
  const ToolRun keyDigest = run({"openssl", "dgst", "-sha256", "-r", spki.string()});
  std::string keyHex;
  for (std::size_t i = 348; i < 380; ++i) {
    static const char kDigits[] = "0123456789abcdef";
    keyHex += kDigits[slot.at(i) >> 4];
    keyHex += kDigits[slot.at(i) & 0xF];
  }
  EXPECT_EQ(keyDigest.out.substr(0, 64), keyHex);
  // The pins of the signed file are printed.
  EXPECT_NE(packed.out.find("trust slot: release\n"), std::string::npos) << packed.out;
  EXPECT_NE(packed.out.find("package SHA-256: " + packageSha256 + "\n"), std::string::npos) << packed.out;
  EXPECT_NE(packed.out.find("installer signer key SHA-256: " + keyHex + "\n"), std::string::npos) << packed.out;
  EXPECT_TRUE(std::all_of(slot.begin() + 56, slot.begin() + 88, [](unsigned char c) { return c == 0xAA; }));
  EXPECT_EQ(le32(slot, 88), 20u);  // UTF-16 units of the name
  EXPECT_EQ(slot.at(92), 'S');
  // The container's digest: over the entry headers and data as packed, then a 0 header.
  const Bytes b = readBytes(out);
  const std::size_t start = le32(b, b.size() - 4);
  std::size_t end = start;
  for (const std::string& entry : entries_) end += 528 + fs::file_size(fileFor(payload_, entry));
  Bytes hashed(b.begin() + static_cast<std::ptrdiff_t>(start), b.begin() + static_cast<std::ptrdiff_t>(end));
  hashed.resize(hashed.size() + 528, 0);
  writeText(temp_.path() / "hashed.bin", std::string(hashed.begin(), hashed.end()));
  const ToolRun digest = run({"openssl", "dgst", "-sha256", "-r", (temp_.path() / "hashed.bin").string()});
  ASSERT_EQ(digest.exitCode, 0);
  std::string hex;
  for (std::size_t i = 24; i < 56; ++i) {
    static const char kDigits[] = "0123456789abcdef";
    hex += kDigits[slot.at(i) >> 4];
    hex += kDigits[slot.at(i) & 0xF];
  }
  EXPECT_EQ(digest.out.substr(0, 64), hex);
}

TEST_F(StubpackCli, TheSignatureCoversTheSlotButNotThePages) {
  const fs::path out = temp_.path() / "pinned.exe";
  ASSERT_EQ(pack(fixtures_ / "pe32.exe", out,
                 {"--package-signer", "Sorvane Software Ltd", "--package-signer-key", std::string(64, 'b')})
                .exitCode,
            0);
  const Bytes original = readBytes(out);
  const std::string marker = "SorvaneTrustSlot";
  const std::size_t slotAt =
      static_cast<std::size_t>(std::search(original.begin(), original.end(), marker.begin(), marker.end()) - original.begin());
  const std::size_t containerAt = le32(original, original.size() - 4);
  const struct {
    const char* name;
    std::size_t offset;
    bool verifies;
  } cases[] = {
      {"a byte of the signer name in the slot", slotAt + 92, false},
      {"a byte of the first page in the container", containerAt + 528, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes changed = original;
    changed.at(c.offset) ^= 0x01;
    const fs::path file = temp_.path() / "changed.exe";
    writeText(file, std::string(changed.begin(), changed.end()));
    const ToolRun verify = run({"osslsigncode", "verify", "-CAfile", cert_, "-in", file.string()});
    EXPECT_EQ(verify.exitCode == 0, c.verifies) << verify.out << verify.err;
  }
}

TEST_F(StubpackCli, PinsThatCannotBeWrittenAreRefused) {
  const fs::path out = temp_.path() / "packed.exe";
  ASSERT_EQ(pack(fixtures_ / "pe32.exe", out).exitCode, 0);
  const fs::path noSlot = temp_.path() / "no-slot.exe";
  Bytes withoutSlot = readBytes(fixtures_ / "pe32.exe");
  const std::string marker = "SorvaneTrustSlot";
  std::search(withoutSlot.begin(), withoutSlot.end(), marker.begin(), marker.end())[0] = 's';
  writeText(noSlot, std::string(withoutSlot.begin(), withoutSlot.end()));
  const struct {
    const char* name;
    fs::path stub;
    std::vector<std::string> extra;
    const char* reason;
  } cases[] = {
      {"short digest", fixtures_ / "pe32.exe", {"--package-sha256", std::string(63, 'a')}, "64 hexadecimal"},
      {"not hexadecimal", fixtures_ / "pe32.exe", {"--package-sha256", std::string(64, 'g')}, "64 hexadecimal"},
      {"name too long", fixtures_ / "pe32.exe",
       {"--package-signer", std::string(129, 'x'), "--package-signer-key", std::string(64, 'a')}, "does not fit"},
      {"name without a key", fixtures_ / "pe32.exe", {"--package-signer", "Sorvane Software Ltd"},
       "--package-signer needs --package-signer-key or --package-signer-cert"},
      {"key not hexadecimal", fixtures_ / "pe32.exe", {"--package-signer-key", std::string(64, 'g')}, "64 hexadecimal"},
      {"key from no certificate", fixtures_ / "pe32.exe", {"--package-signer-cert", key_}, "no PEM certificate"},
      // A release's slot must pin the package: the signed file is checked and not kept.
      {"release without a package pin", fixtures_ / "pe32.exe", {"--release"},
       "a release's trust slot without the package's SHA-256"},
      {"stub without a slot", noSlot, {}, "no single trust slot"},
      {"stub packed before", out, {}, "already filled"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path target = temp_.path() / "refused.exe";
    const ToolRun packed = pack(c.stub, target, c.extra);
    EXPECT_EQ(packed.exitCode, 1);
    EXPECT_NE(packed.err.find(c.reason), std::string::npos) << packed.err;
    EXPECT_FALSE(fs::exists(target));
  }
}

}  // namespace

namespace {

// tools/stubpack/loopback-tsa in a folder of its own, for as long as the object lives.
class LoopbackTimeStamping {
 public:
  explicit LoopbackTimeStamping(const fs::path& folder) : folder_(folder) {
    fs::create_directories(folder_);
    const std::string script = environment("STUBPACK_LOOPBACK_TSA");
    child_ = ::fork();
    if (child_ == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, STDOUT_FILENO);
      ::execlp("python3", "python3", script.c_str(), folder_.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Its certificate is made first; a loaded machine takes a few seconds for the key.
    for (int i = 0; i < 600 && !fs::exists(folder_ / "port"); ++i) ::usleep(100000);
  }
  ~LoopbackTimeStamping() {
    if (child_ > 0) {
      ::kill(child_, SIGTERM);
      ::waitpid(child_, nullptr, 0);
    }
  }
  LoopbackTimeStamping(const LoopbackTimeStamping&) = delete;
  LoopbackTimeStamping& operator=(const LoopbackTimeStamping&) = delete;

  std::string url() const { return "http://127.0.0.1:" + readText(folder_ / "port") + "/"; }
  fs::path certificate() const { return folder_ / "tsa-cert.pem"; }

 private:
  fs::path folder_;
  pid_t child_ = -1;
};

TEST_F(StubpackCli, ATimestampUrlTimeStampsTheSignature) {
  LoopbackTimeStamping service(temp_.path() / "tsa");
  ASSERT_TRUE(fs::exists(temp_.path() / "tsa" / "port")) << "the loopback time-stamping service did not start";
  const fs::path out = temp_.path() / "stamped.exe";
  const ToolRun packed = pack(fixtures_ / "pe32.exe", out, {"--timestamp-url", service.url()});
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  const ToolRun verify = run({"osslsigncode", "verify", "-CAfile", cert_, "-TSA-CAfile",
                              service.certificate().string(), "-in", out.string()});
  EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
  EXPECT_NE(verify.out.find("Timestamp Server Signature verification: ok"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("Timestamp time:"), std::string::npos) << verify.out;
  // The container still follows the time-stamped signature.
  const ToolRun listed = run({tool_, "list", out.string()});
  EXPECT_EQ(listed.exitCode, 0) << listed.err;
}

TEST_F(StubpackCli, AnUnreachableTimestampServiceFailsThePack) {
  const fs::path out = temp_.path() / "unstamped.exe";
  const ToolRun packed = pack(fixtures_ / "pe32.exe", out, {"--timestamp-url", "http://127.0.0.1:9/"});
  EXPECT_EQ(packed.exitCode, 1);
  EXPECT_NE(packed.err.find("signing"), std::string::npos) << packed.err;
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
