#include "catalogue/scan.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "base/failure.hpp"
#include "support/scoped.hpp"
#include "support/temp_dir.hpp"

namespace bm {
namespace {

using test::makeFile;
using testing::ElementsAreArray;

class Scan : public testing::Test {
 protected:
  const test::ScopedVariable zone_{"TZ", test::kTestZone};

  std::string directory(const std::string& name) {
    const std::string path = tmp_ / name;
    test::makeDirectory(path);
    return path;
  }

  static std::vector<std::string> hosts(const ScanResult& result) {
    std::vector<std::string> out;
    for (const BackupEntry& e : result.entries) out.push_back(e.nomeHost + " " + e.dataHost);
    return out;
  }

  static void expectFailure(const std::function<void()>& scan, FailureKind kind,
                            const std::string& message) {
    try {
      scan();
      ADD_FAILURE() << "no failure";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), kind);
      EXPECT_EQ(failure.message(), message);
    }
  }

  test::TempDir tmp_;
};

TEST_F(Scan, SchemeComesFromThePathTextOnly) {
  const struct {
    const char* path;
    NamingScheme scheme;
  } cases[] = {
      {"/srv/backups/huawei/", NamingScheme::NameFields},
      {"/srv/huawei-core", NamingScheme::NameFields},
      {"/data/huaweix", NamingScheme::NameFields},
      {"/srv/backups/Huawei", NamingScheme::ModificationTime},
      {"/data/HUAWEI", NamingScheme::ModificationTime},
      {"/data/hua/wei", NamingScheme::ModificationTime},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(namingSchemeFor(c.path), c.scheme);
  }
}

TEST_F(Scan, NameFieldsInListingOrderWithoutStatus) {
  const std::string dir = directory("bkp-huawei");
  makeFile(dir + "/2024-03-05.cfg.core-sw1.zip");
  makeFile(dir + "/2024-03-07.cfg. core-sw1 .zip");
  makeFile(dir + "/.2024.hidden.x");
  test::makeDirectory(dir + "/2024-01-01.d.sub");
  // Only the name is read in this scheme: a dangling link is an entry like any other.
  ASSERT_EQ(::symlink("/nonexistent", (dir + "/2024-02-02.l.dangling").c_str()), 0);
  std::vector<std::string> expected;
  for (const std::string& name : test::listingOrder(dir)) {
    expected.push_back(name == "2024-03-05.cfg.core-sw1.zip"     ? "CORE-SW1 2024-03-05"
                       : name == "2024-03-07.cfg. core-sw1 .zip" ? "CORE-SW1 2024-03-07"
                       : name == ".2024.hidden.x"                ? "HIDDEN "
                       : name == "2024-01-01.d.sub"              ? "SUB 2024-01-01"
                                                                 : "DANGLING 2024-02-02");
  }
  const ScanResult result = scanBackupDirectory(dir);
  EXPECT_EQ(result.scheme, NamingScheme::NameFields);
  EXPECT_THAT(hosts(result), ElementsAreArray(expected));
}

TEST_F(Scan, ModificationTimeDatesInLocalTimeAndKeepsDuplicates) {
  const std::string dir = directory("routers");
  makeFile(dir + "/sw1", test::utcSeconds(2024, 3, 6, 2, 30));  // 23:30 local on the 5th
  makeFile(dir + "/SW1", test::utcSeconds(2024, 3, 6, 3, 0));   // midnight local on the 6th
  makeFile(dir + "/ router1.cfg", test::utcSeconds(2023, 12, 31, 12, 0));
  test::makeDirectory(dir + "/sub");
  test::setModificationTime(dir + "/sub", test::utcSeconds(2020, 1, 1, 12, 0));
  std::vector<std::string> expected;
  for (const std::string& name : test::listingOrder(dir)) {
    expected.push_back(name == "sw1"            ? "SW1 2024-03-05"
                       : name == "SW1"          ? "SW1 2024-03-06"
                       : name == " router1.cfg" ? "ROUTER1.CFG 2023-12-31"
                                                : "SUB 2020-01-01");
  }
  const ScanResult result = scanBackupDirectory(dir + "/");
  EXPECT_EQ(result.scheme, NamingScheme::ModificationTime);
  EXPECT_THAT(hosts(result), ElementsAreArray(expected));
}

TEST_F(Scan, TimesKeepTheirFractionAndFollowLinks) {
  const std::string dir = directory("huawei");
  makeFile(tmp_ / "elsewhere", 1709692200, 250000000);
  ASSERT_EQ(::symlink((tmp_ / "elsewhere").c_str(), (dir + "/2024-03-05.x.link").c_str()), 0);
  const ScanResult result = scanBackupDirectoryWithTimes(dir);
  ASSERT_EQ(result.entries.size(), 1u);
  EXPECT_EQ(result.entries[0].dataModificacao, 1709692200.0 + 250000000 * 1e-9);
}

TEST_F(Scan, EmptyDirectoryInEitherScheme) {
  EXPECT_TRUE(scanBackupDirectory(directory("empty")).entries.empty());
  EXPECT_TRUE(scanBackupDirectoryWithTimes(directory("empty-huawei")).entries.empty());
}

TEST_F(Scan, FailuresNameTheCallAndItsInput) {
  const std::string missing = tmp_ / "missing";
  expectFailure([&] { scanBackupDirectory(missing); }, FailureKind::System,
                "opendir " + missing + ": No such file or directory");
  makeFile(tmp_ / "file");
  expectFailure([&] { scanBackupDirectory(tmp_ / "file"); }, FailureKind::System,
                "opendir " + (tmp_ / "file") + ": Not a directory");

  const std::string names = directory("huawei-bad");
  makeFile(names + "/2024-03-05.cfg.ok");
  makeFile(names + "/README");
  expectFailure([&] { scanBackupDirectory(names); }, FailureKind::BadName,
                "o nome 'README' não tem três campos separados por '.'");

  const std::string links = directory("links");
  ASSERT_EQ(::symlink("/nonexistent", (links + "/dangling").c_str()), 0);
  expectFailure([&] { scanBackupDirectory(links + "/"); }, FailureKind::System,
                "stat " + links + "//dangling: No such file or directory");

  const std::string huaweiLinks = directory("huawei-links");
  ASSERT_EQ(::symlink("/nonexistent", (huaweiLinks + "/2024-03-05.x.h").c_str()), 0);
  EXPECT_EQ(scanBackupDirectory(huaweiLinks).entries.size(), 1u);
  expectFailure([&] { scanBackupDirectoryWithTimes(huaweiLinks); }, FailureKind::System,
                "stat " + huaweiLinks + "/2024-03-05.x.h: No such file or directory");
}

TEST_F(Scan, UndecodableNamesAreShownWithReplacementsButReadByTheirRealName) {
  const std::string dir = directory("bytes");
  makeFile(dir + "/sw\xff.cfg", test::utcSeconds(2024, 3, 6, 12, 0));
  const ScanResult result = scanBackupDirectoryWithTimes(dir);
  EXPECT_THAT(hosts(result), testing::ElementsAre("SW\ufffd.CFG 2024-03-06"));
}

}  // namespace
}  // namespace bm
