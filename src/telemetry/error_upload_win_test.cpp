// Win32 code. The log archive and file uploads, as the report collector receives them.
#include "telemetry/error_upload_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/private_temp_folder_win.h"
#include "support/report_collector_win.h"
#include "support/wine_test_support_win.h"
#include "support/zip_archive_reader_win.h"
#include "sysenv/shell_win.h"
#include "sysenv/unique_handle_win.h"
#include "sysenv/wide_text_win.h"
#include "telemetry/analytics_win.h"
#include "telemetry/machine_id_win.h"

namespace {

using testsupport::CollectedRequest;
using testsupport::ScratchFolder;
using testsupport::writeFileBytes;

constexpr char kUploadTarget[] =
    "/v1/reportError?token=0F8FAD5B-D9CB-469F-A165-70867728950E&machineId=P-7C9E6679-7425-40DE-944B-E07FC1F90AE7";

// The collector records a request before it answers, and a send returns only with the answer
// (Wine's WinHTTP), so a report sent is a report recorded.
using testsupport::collectedRequests;

struct LogFile {
  const wchar_t* path;  // relative to the scratch folder
  const char* content;  // nullptr: the file is not there
};

class ErrorUpload : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_REPORT_COLLECTOR();
    testsupport::clearCollectedRequests();
    properties_.requestToken = u"0F8FAD5B-D9CB-469F-A165-70867728950E";
    properties_.machineId = u"P-7C9E6679-7425-40DE-944B-E07FC1F90AE7";
    ASSERT_TRUE(CreateDirectoryW(scratch_.file(L"package").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(scratch_.file(L"logger").c_str(), nullptr));
  }
  void TearDown() override { testsupport::clearCollectedRequests(); }

  // Writes the files that exist and lists every path in the report sender, in the given order.
  void collect(downloadmanagercore::Analytics& analytics, const std::vector<LogFile>& files) {
    for (const LogFile& file : files) {
      if (file.content != nullptr) {
        ASSERT_TRUE(writeFileBytes(scratch_.file(file.path), file.content));
      }
      analytics.addLogFile(scratch_.file(file.path));
    }
  }

  ScratchFolder scratch_;
  testsupport::ScopedPrivateTempFolder temp_;
  app::InstallProperties properties_{u"KRV", u"1.0.20.1", app::RunEnvironment{}};
  downloadmanagercore::Analytics analytics_{&properties_};
};

TEST_F(ErrorUpload, ArchiveHoldsTheListedLogsThatExistInListOrderUnderTheirBareNames) {
  const struct {
    const char* run;
    std::vector<LogFile> files;
    std::vector<std::string> items;  // with content "<name> text"
  } cases[] = {
      {"failed download: the own log only",
       {{L"logger\\installer_log.txt", "installer_log.txt text"}},
       {"installer_log.txt"}},
      {"failed installation",
       {{L"package\\log.txt", "log.txt text"},
        {L"package\\log.txt.xml", "log.txt.xml text"},
        {L"logger\\installer_log.txt", "installer_log.txt text"}},
       {"log.txt", "log.txt.xml", "installer_log.txt"}},
      {"the installer wrote no log.txt.xml",
       {{L"package\\log.txt", "log.txt text"},
        {L"package\\log.txt.xml", nullptr},
        {L"logger\\installer_log.txt", "installer_log.txt text"}},
       {"log.txt", "installer_log.txt"}},
      {"the same file listed twice",
       {{L"logger\\installer_log.txt", "installer_log.txt text"}, {L"logger\\installer_log.txt", "installer_log.txt text"}},
       {"installer_log.txt", "installer_log.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.run);
    testsupport::clearCollectedRequests();
    downloadmanagercore::Analytics analytics(&properties_);
    ASSERT_NO_FATAL_FAILURE(collect(analytics, c.files));

    analytics.uploadLogArchive();

    const std::vector<CollectedRequest> requests = collectedRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].verb, "PUT");
    EXPECT_EQ(requests[0].target, kUploadTarget);
    EXPECT_EQ(requests[0].header("Content-Type"), "application/xml");
    const std::vector<testsupport::ZipEntry> entries = testsupport::readZipArchive(requests[0].body);
    ASSERT_EQ(entries.size(), c.items.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(entries[i].name, c.items[i]);
      EXPECT_EQ(testsupport::zipEntryContent(entries[i]), c.items[i] + " text");
    }
    EXPECT_EQ(temp_.entries(), std::vector<std::wstring>{});
    for (const LogFile& file : c.files) DeleteFileW(scratch_.file(file.path).c_str());
  }
}

TEST_F(ErrorUpload, WithoutAReadableLogNothingIsSentAndNoFolderStays) {
  collect(analytics_, {{L"package\\log.txt", nullptr}, {L"logger\\installer_log.txt", nullptr}});
  analytics_.uploadLogArchive();
  downloadmanagercore::Analytics nothingListed(&properties_);
  nothingListed.uploadLogArchive();

  EXPECT_EQ(collectedRequests().size(), 0u);
  EXPECT_EQ(temp_.entries(), std::vector<std::wstring>{});
}

TEST_F(ErrorUpload, FileIsSentByteForByteWithTokenAndIdUnencodedInTheQuery) {
  const std::string bytes("MDMP\0\x01\xff binary\r\n", 16);
  const std::wstring path = scratch_.file(L"blob.bin");
  ASSERT_TRUE(writeFileBytes(path, bytes));

  EXPECT_TRUE(telemetry::uploadReportFile(path, sysenv::toWide(properties_.requestToken),
                                          sysenv::toWide(properties_.machineId)));

  const std::vector<CollectedRequest> requests = collectedRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].verb, "PUT");
  EXPECT_EQ(requests[0].target, kUploadTarget);
  EXPECT_EQ(requests[0].body, bytes);
}

TEST_F(ErrorUpload, FileThatCannotBeOpenedOrIsFourGibibytesOrMoreIsNotSent) {
  EXPECT_FALSE(telemetry::uploadReportFile(scratch_.file(L"missing.zip"), L"t", L"m"));
  EXPECT_FALSE(telemetry::uploadReportFile(scratch_.path(), L"t", L"m"));  // a folder

  // Sparse: only the size is large. Its low 32 bits say 3 bytes, which must not go out as the file.
  const std::wstring huge = scratch_.file(L"huge.zip");
  {
    const sysenv::UniqueFileHandle file(
        CreateFileW(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.valid());
    LARGE_INTEGER end = {};
    end.QuadPart = 0x100000003LL;
    ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.get()));
  }
  EXPECT_FALSE(telemetry::uploadReportFile(huge, L"t", L"m"));

  EXPECT_EQ(collectedRequests().size(), 0u);
}

TEST_F(ErrorUpload, OnlyTheBytesActuallyReadAreSent) {
  // A Linux kernel attribute file claims a size of one page and holds a few bytes: the read
  // delivers fewer bytes than the size taken before it, as with a file that shrank meanwhile.
  const std::wstring path = L"Z:\\sys\\devices\\system\\cpu\\online";
  const std::string content = testsupport::readFileBytes(path);
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  if (content.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) ||
      attributes.nFileSizeLow <= content.size()) {
    GTEST_SKIP() << "no kernel attribute file that claims more than it holds";
  }

  EXPECT_TRUE(telemetry::uploadReportFile(path, L"t", L"m"));

  const std::vector<CollectedRequest> requests = collectedRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].body, content);
}

TEST_F(ErrorUpload, CrashDumpGoesWithAnEmptyTokenAndThisMachinesId) {
  const std::wstring dump = scratch_.file(L"dlm.dmp");
  ASSERT_TRUE(writeFileBytes(dump, "MDMP dump"));

  telemetry::uploadCrashDump(dump);

  const std::vector<CollectedRequest> requests = collectedRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].verb, "PUT");
  EXPECT_EQ(requests[0].target, "/v1/reportError?token=&machineId=" + sysenv::toUtf8(telemetry::getMachineId()));
  EXPECT_EQ(requests[0].body, "MDMP dump");
}

}  // namespace
