#include "downloadmanagercore/package_answer.h"

#include <gtest/gtest.h>

#include <string>

namespace downloadmanagercore {
namespace {

TEST(PackageAnswer, AWebPageIsNoPackageHoweverItsTypeIsWritten) {
  EXPECT_TRUE(announcesWebPage(u"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n"));
  EXPECT_TRUE(announcesWebPage(u"HTTP/1.1 200 OK\r\ncontent-type:Text/HTML; charset=utf-8\r\n"));
  EXPECT_TRUE(announcesWebPage(u"HTTP/1.1 200 OK\nContent-Type: application/xhtml+xml\n"));
  EXPECT_FALSE(announcesWebPage(u"HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\n"));
  EXPECT_FALSE(announcesWebPage(u"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"));
  EXPECT_FALSE(announcesWebPage(u"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"));
  EXPECT_FALSE(announcesWebPage(u"HTTP/1.1 200 OK\r\nX-Content-Type: text/html\r\n"));
}

TEST(PackageAnswer, OnlyAZipLocalHeaderStartsAPackage) {
  const unsigned char zip[] = {'P', 'K', 3, 4, 20, 0};
  const unsigned char page[] = {'<', '!', 'D', 'O'};
  const unsigned char emptyArchive[] = {'P', 'K', 5, 6};
  EXPECT_EQ(judgePackageStart(zip, 0), PackageStart::kUnknown);
  EXPECT_EQ(judgePackageStart(zip, 3), PackageStart::kUnknown);
  EXPECT_EQ(judgePackageStart(zip, 4), PackageStart::kZip);
  EXPECT_EQ(judgePackageStart(zip, 6), PackageStart::kZip);
  EXPECT_EQ(judgePackageStart(page, 1), PackageStart::kNotZip) << "told from the first byte on";
  EXPECT_EQ(judgePackageStart(emptyArchive, 4), PackageStart::kNotZip);
}

}  // namespace
}  // namespace downloadmanagercore
