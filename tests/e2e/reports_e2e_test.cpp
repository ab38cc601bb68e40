// Both reports end to end in debug mode, and the failures that end a report.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "base/fd.hpp"
#include "e2e.hpp"
#include "support/archives.hpp"
#include "support/sha256.hpp"

namespace bm::test {
namespace {

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

class Reports : public testing::Test {
 protected:
  std::string directory(const std::string& name) {
    const std::string path = tmp_ / name;
    makeDirectory(path);
    return path;
  }

  // Lines for the names in listing order, from a name -> line table.
  static std::string inListingOrder(const std::string& dir,
                                    const std::map<std::string, std::string>& lines) {
    std::string out;
    for (const std::string& name : listingOrder(dir)) out += lines.at(name) + "\n";
    return out;
  }

  TempDir tmp_;
};

TEST_F(Reports, DiscoveryNameFieldsNewestPerHostByDateText) {
  const std::string dir = directory("backups-huawei");
  for (const char* name : {"2024-03-05.cfg.core-sw1.zip", "2024-03-07.cfg. core-sw1 .zip",
                           "2024-3-9.cfg.são-paulo.zip", "2024-3-10.cfg.edge.zip",
                           "2024-3-9.cfg.dup", "2024-03-11.cfg.dup", "2024-02-01.x.straße"}) {
    makeFile(dir + "/" + name);
  }
  EXPECT_EQ(describe(runAgent({"descobertaBackups", dir, "127.0.0.9", "debug"})),
            expected(0, kDebugHeader + "SÃO-PAULO 2024-03-09\n"
                                       "DUP 2024-03-11\n"
                                       "EDGE 2024-03-10\n"
                                       "CORE-SW1 2024-03-07\n"
                                       "STRASSE 2024-02-01\n"));
}

TEST_F(Reports, DiscoveryModificationTimeOneLinePerFileInListingOrder) {
  const std::string dir = directory("routers");
  makeFile(dir + "/sw1", utcSeconds(2024, 3, 6, 2, 30));  // 23:30 local, the 6th in UTC
  makeFile(dir + "/SW1", utcSeconds(2024, 3, 6, 3, 0));
  makeFile(dir + "/ router1.cfg\t", utcSeconds(2023, 12, 31, 12, 0));
  makeDirectory(dir + "/sub");
  setModificationTime(dir + "/sub", utcSeconds(2020, 1, 1, 12, 0));
  makeFile(dir + "/bad\xff", utcSeconds(2024, 1, 2, 12, 0));
  const std::string lines = inListingOrder(dir, {{"sw1", "SW1 2024-03-05"},
                                                 {"SW1", "SW1 2024-03-06"},
                                                 {" router1.cfg\t", "ROUTER1.CFG 2023-12-31"},
                                                 {"sub", "SUB 2020-01-01"},
                                                 {"bad\xff", "BAD\ufffd 2024-01-02"}});
  EXPECT_EQ(describe(runAgent({"descobertaBackups", dir + "/", "s", "debug"})),
            expected(0, kDebugHeader + lines));
}

TEST_F(Reports, UpperCasingIgnoresATurkishLocale) {
  const std::string dir = directory("tr");
  makeFile(dir + "/istanbul", utcSeconds(2024, 3, 6, 12, 0));
  RunOptions turkish;
  turkish.env = {{"LANG", "tr_TR.UTF-8"}, {"LC_ALL", "tr_TR.UTF-8"}};
  EXPECT_EQ(describe(runAgent({"descobertaBackups", dir, "s", "debug"}, turkish)),
            expected(0, kDebugHeader + "ISTANBUL 2024-03-06\n"));
}

TEST_F(Reports, EmptyDirectoryPrintsTheHeaderOnly) {
  for (const char* name : {"empty", "empty-huawei"}) {
    SCOPED_TRACE(name);
    const std::string dir = directory(name);
    EXPECT_EQ(describe(runAgent({"descobertaBackups", dir, "s", "debug"})),
              expected(0, kDebugHeader));
    EXPECT_EQ(describe(runAgent({"coletarData", dir, "s", "debug"})), expected(0, kDebugHeader));
    EXPECT_EQ(describe(runAgent({"coletarSaude", dir, "s", "debug"})), expected(0, kDebugHeader));
  }
}

// A collection line: the age depends on the run's clock, so it is checked against the window
// the run took place in.
struct CollectionLine {
  std::string prefix;  // host, date and modification time, as printed
  double age;
};

std::vector<CollectionLine> collectionLines(const std::string& out) {
  std::vector<CollectionLine> lines;
  std::istringstream in(out.substr(kDebugHeader.size()));
  for (std::string line; std::getline(in, line);) {
    const std::size_t cut = line.rfind(' ');
    lines.push_back({line.substr(0, cut), std::strtod(line.c_str() + cut + 1, nullptr)});
  }
  return lines;
}

// The day in the pinned zone, three hours behind UTC.
std::string localDate(std::time_t when) {
  const std::time_t shifted = when - 3 * 3600;
  std::tm t{};
  ::gmtime_r(&shifted, &t);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &t);
  return text;
}

double wallClock() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

TEST_F(Reports, CollectionNameFieldsByHostWithTheChosenFilesTimes) {
  const std::string dir = directory("huawei");
  // CORE-SW1's newest backup by name is the older file: its time is reported.
  makeFile(dir + "/2024-03-07.cfg.core-sw1.zip", 1709692200, 250000000);
  makeFile(dir + "/2024-03-05.cfg.core-sw1.zip", 1709800000);
  makeFile(dir + "/2024-03-01.cfg.a-router", 1700000000);
  const double before = wallClock();
  const RunResult r = runAgent({"coletarData", dir, "s", "debug"});
  const double after = wallClock();
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.err, "");
  ASSERT_EQ(r.out.substr(0, kDebugHeader.size()), kDebugHeader);
  const std::vector<CollectionLine> lines = collectionLines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].prefix, "A-ROUTER 2024-03-01 1700000000.0");
  EXPECT_EQ(lines[1].prefix, "CORE-SW1 2024-03-07 1709692200.25");
  EXPECT_GE(lines[0].age, before - 1700000000.0 - 0.001);
  EXPECT_LE(lines[0].age, after - 1700000000.0 + 0.001);
  EXPECT_GE(lines[1].age, before - 1709692200.25 - 0.001);
  EXPECT_LE(lines[1].age, after - 1709692200.25 + 0.001);
}

TEST_F(Reports, CollectionModificationTimeKeepsDuplicatesAndNegativeAges) {
  const std::string dir = directory("routers");
  const auto future = static_cast<std::time_t>(wallClock()) + 100000;
  makeFile(dir + "/sw1", utcSeconds(2024, 3, 6, 2, 30), 500000000);
  makeFile(dir + "/SW1", future);
  const double before = wallClock();
  const RunResult r = runAgent({"coletarData", dir, "s", "debug"});
  const double after = wallClock();
  ASSERT_EQ(describe(r).substr(0, 9), "status 0\n");
  const std::vector<CollectionLine> lines = collectionLines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const bool fromFuture = listingOrder(dir)[i] == "SW1";
    const double mtime = fromFuture ? static_cast<double>(future) : 1709692200.5;
    SCOPED_TRACE(lines[i].prefix);
    EXPECT_EQ(lines[i].prefix,
              fromFuture ? "SW1 " + localDate(future) + " " + std::to_string(future) + ".0"
                         : "SW1 2024-03-05 1709692200.5");
    EXPECT_GE(lines[i].age, before - mtime - 0.001);
    EXPECT_LE(lines[i].age, after - mtime + 0.001);
    if (fromFuture) {
      EXPECT_LT(lines[i].age, 0);
    }
  }
}

TEST_F(Reports, FailuresEndTheRunBeforeAnyOutput) {
  const std::string missing = tmp_ / "missing";
  makeFile(tmp_ / "file");
  const std::string badName = directory("huawei-bad-name");
  makeFile(badName + "/2024-03-05.cfg.ok");
  makeFile(badName + "/README");
  const std::string badDate = directory("huawei-bad-date");
  makeFile(badDate + "/2024-03-05.cfg.ok");
  makeFile(badDate + "/2024-02-30.cfg.ok");
  // A transfer's temporary file: its first field is empty.
  const std::string partial = directory("huawei-partial");
  makeFile(partial + "/.2026-12-08.cfg.core-a.zip.AbC123");
  const std::string dangling = directory("dangling");
  ASSERT_EQ(::symlink("/nonexistent", (dangling + "/sw1").c_str()), 0);
  const std::string huaweiDangling = directory("huawei-dangling");
  ASSERT_EQ(::symlink("/nonexistent", (huaweiDangling + "/2024-03-05.x.sw1").c_str()), 0);

  const std::string opendirMissing =
      failureReport("ErroDoSistema", "opendir " + missing + ": No such file or directory",
                    "openDirectory", "src/catalogue/scan.cpp");
  const std::string opendirFile =
      failureReport("ErroDoSistema", "opendir " + (tmp_ / "file") + ": Not a directory",
                    "openDirectory", "src/catalogue/scan.cpp");
  const std::string readme =
      failureReport("NomeInvalido", "o nome 'README' não tem três campos separados por '.'", "scan",
                    "src/catalogue/scan.cpp");
  const std::string badDay =
      failureReport("DataInvalida",
                    "a data '2024-02-30' do host 'OK' (arquivo '2024-02-30.cfg.ok') não é uma data "
                    "\"%Y-%m-%d\" válida",
                    "removerHostsDuplicados", "src/catalogue/duplicates.cpp");
  const std::string partialDay = failureReport(
      "DataInvalida",
      "a data '' do host 'CFG' (arquivo '.2026-12-08.cfg.core-a.zip.AbC123') não é uma data "
      "\"%Y-%m-%d\" válida",
      "removerHostsDuplicados", "src/catalogue/duplicates.cpp");
  const std::string statDangling =
      failureReport("ErroDoSistema", "stat " + dangling + "/sw1: No such file or directory",
                    "modificationTime", "src/catalogue/scan.cpp");
  const std::string statHuawei = failureReport(
      "ErroDoSistema", "stat " + huaweiDangling + "/2024-03-05.x.sw1: No such file or directory",
      "modificationTime", "src/catalogue/scan.cpp");
  const struct {
    const char* mode;
    std::string dir;
    std::string result;
  } cases[] = {
      {"descobertaBackups", missing, expected(1, "", opendirMissing)},
      {"coletarData", missing, expected(1, "", opendirMissing)},
      {"descobertaBackups", tmp_ / "file", expected(1, "", opendirFile)},
      {"descobertaBackups", badName, expected(1, "", readme)},
      {"coletarData", badName, expected(1, "", readme)},
      {"descobertaBackups", badDate, expected(1, "", badDay)},
      {"coletarData", badDate, expected(1, "", badDay)},
      {"descobertaBackups", partial, expected(1, "", partialDay)},
      {"descobertaBackups", dangling, expected(1, "", statDangling)},
      {"coletarData", dangling, expected(1, "", statDangling)},
      {"descobertaBackups", huaweiDangling, expected(0, kDebugHeader + "SW1 2024-03-05\n")},
      {"coletarData", huaweiDangling, expected(1, "", statHuawei)},
      // The health report fails wherever collection does.
      {"coletarSaude", missing, expected(1, "", opendirMissing)},
      {"coletarSaude", badName, expected(1, "", readme)},
      {"coletarSaude", badDate, expected(1, "", badDay)},
      {"coletarSaude", dangling, expected(1, "", statDangling)},
      {"coletarSaude", huaweiDangling, expected(1, "", statHuawei)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " " + c.dir);
    EXPECT_EQ(describe(runAgent({c.mode, c.dir, "s", "debug"})), c.result);
  }
}

// An inventory names, after the listing, the expected devices without any backup and the
// devices with backups it does not list. A plain list and a router.db (only "up" devices count)
// name devices as the backups do: trimmed and upper-cased, each once.
TEST_F(Reports, InventoryNamesDevicesWithoutBackupsAndThoseNotExpected) {
  const std::string dir = directory("huawei");
  for (const char* name : {"2024-03-05.cfg.core-sw1.zip", "2024-03-07.cfg.são-paulo.zip",
                           "2024-03-06.cfg.lab-x.zip"}) {
    makeFile(dir + "/" + name);
  }
  const std::string listing = kDebugHeader +
                              "SÃO-PAULO 2024-03-07\n"
                              "LAB-X 2024-03-06\n"
                              "CORE-SW1 2024-03-05\n";
  const struct {
    std::string content;
    std::string after;
  } cases[] = {
      {"\xef\xbb\xbf# sala 1\n\n  core-sw1 \r\nSÃO-PAULO\n\tsw9\nSW9\n",
       "SW9 sem nenhum backup\nLAB-X fora do inventário\n"},
      {"# RANCID\ncore-sw1;cisco;up\nsw9;cisco;down\n sw10 ; juniper ; UP ; sala 3\n"
       "são-paulo;cisco;up\nlab-x;cisco;up",
       "SW10 sem nenhum backup\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    writeFile(tmp_ / "inventory", c.content);
    RunOptions options;
    options.env = {{"BACKUP_MONITOR_INVENTORY", tmp_ / "inventory"}};
    EXPECT_EQ(describe(runAgent({"descobertaBackups", dir, "s", "debug"}, options)),
              expected(0, listing + c.after));
  }
}

// An inventory that cannot be read, holds no device or has a line that is not understood ends
// the run before anything is printed or sent, naming the file and the line; a FIFO does not
// hold the run.
TEST_F(Reports, InventoryThatCannotBeUsedEndsTheRun) {
  const std::string dir = directory("routers");
  makeFile(dir + "/sw1");
  const std::string file = tmp_ / "inventory";
  const std::string fifo = tmp_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = tmp_ / "huge";
  {
    const Fd fd(::open(huge.c_str(), O_WRONLY | O_CREAT, 0600));
    ASSERT_EQ(::ftruncate(fd.get(), (off_t{64} << 20) + 1), 0);
  }
  const auto read = [](const std::string& message) {
    return failureReport("ConfiguracaoInvalida", "BACKUP_MONITOR_INVENTORY: " + message,
                         "inventoryText", "src/catalogue/inventory.cpp");
  };
  const auto line = [&file](int number, const std::string& shown, bool routerDb) {
    return failureReport(
        "ConfiguracaoInvalida",
        "BACKUP_MONITOR_INVENTORY: '" + file + "', linha " + std::to_string(number) + ": " + shown +
            (routerDb ? " não entendida: o arquivo é um router.db (nome;tipo;estado em cada linha)"
                      : " não entendida: o arquivo é uma lista (um nome de equipamento por linha)"),
        "notUnderstood", "src/catalogue/inventory.cpp");
  };
  const auto none = [&file](const std::string& what) {
    return failureReport(
        "ConfiguracaoInvalida",
        "BACKUP_MONITOR_INVENTORY: '" + file + "' não lista nenhum equipamento" + what,
        "inventoryOf", "src/catalogue/inventory.cpp");
  };
  const struct {
    std::string path;
    std::string content;  // written to path when it is the file
    std::string report;
  } cases[] = {
      {tmp_ / "missing", "",
       read("não foi possível ler '" + (tmp_ / "missing") + "': No such file or directory")},
      {dir, "", read("'" + dir + "' não é um arquivo regular")},
      {fifo, "", read("'" + fifo + "' não é um arquivo regular")},
      {huge, "", read("'" + huge + "' tem mais de 64 MiB")},
      {file, "", none("")},
      {file, "# só comentários\n\n", none("")},
      {file, "sw1;cisco;down\nsw2;cisco;ticketed\n", none(" com estado up")},
      {file, "sw1\nsw2 sw3\n", line(2, "'sw2 sw3'", false)},
      {file, "sw1\nsw2 # core\n", line(2, "'sw2 # core'", false)},
      {file, "sw1\nsw2;cisco;up\n", line(2, "'sw2;cisco;up'", false)},
      {file,
       "sw1\nsw\x01"
       "2\n",
       line(2, "'sw\\x012'", false)},
      {file, "sw1;cisco;up\n\nsw2;cisco\n", line(3, "'sw2;cisco'", true)},
      {file, "sw1;cisco;up\nsw2\n", line(2, "'sw2'", true)},
      {file, " ;cisco;up\n", line(1, "';cisco;up'", true)},
      {file, "sw1;cisco;\n", line(1, "'sw1;cisco;'", true)},
      {file, std::string(100, 'x') + " y\n", line(1, "'" + std::string(80, 'x') + "'...", false)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + ": " + c.content);
    if (c.path == file) writeFile(file, c.content);
    RunOptions options;
    options.env = {{"BACKUP_MONITOR_INVENTORY", c.path}};
    EXPECT_EQ(describe(runAgent({"descobertaBackups", dir, "s", "debug"}, options)),
              expected(1, "", c.report));
  }
}

// The health report reads exactly the files collection reports: the newest backup of each host
// by its name's date, in host order; every entry of a modification-time directory, duplicates
// included, in listing order. What cannot be read (a directory, a FIFO that must not block the
// run) is said on its line and the run goes on.
TEST_F(Reports, HealthReadsTheFilesCollectionReports) {
  const std::string huawei = directory("huawei");
  writeFile(huawei + "/2024-03-07.cfg.sw1.zip", "config A\n");
  writeFile(huawei + "/2024-03-06.cfg.sw1.zip", "an older, longer configuration\n");
  writeFile(huawei + "/2024-03-07.cfg.sw2.zip", "");
  const std::string empty = "0 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  const std::string configA = "9 6f3ac7d6c406f65a583b0c411cca8da7d1048f6a7a252aa961a27dd07184d6ce";
  makeDirectory(huawei + "/2024-03-07.cfg.dir1");
  // Two backups of one day: the one modified last is read, and with equal times the name last in
  // byte order. Eight such pairs, made in both orders, so that whatever order the file system
  // lists them in, its order cannot pass for the rule.
  std::string ties;
  for (int i = 1; i <= 8; ++i) {
    const std::string host = "t" + std::to_string(i);
    for (int k = 0; k < 2; ++k) {
      const bool cfg = (i + k) % 2 == 0;
      const std::string path = huawei + (cfg ? "/2024-03-07.cfg." : "/2024-03-07.zip.") + host;
      writeFile(path, cfg ? "config A\n" : "");
      setModificationTime(path, utcSeconds(2024, 3, 7, 12, 0));
    }
    ties += "T" + std::to_string(i) + " 2024-03-07 " + empty + "\n";
  }
  writeFile(huawei + "/2024-03-07.cfg.sw5", "config A\n");
  writeFile(huawei + "/2024-03-07.zip.sw5", "");
  setModificationTime(huawei + "/2024-03-07.zip.sw5", utcSeconds(2024, 3, 7, 12, 0));
  setModificationTime(huawei + "/2024-03-07.cfg.sw5", utcSeconds(2024, 3, 7, 12, 1));
  ASSERT_EQ(::mkfifo((huawei + "/2024-03-07.cfg.fifo1").c_str(), 0644), 0);
  EXPECT_EQ(describe(runAgent({"coletarSaude", huawei, "s", "debug"})),
            expected(0, kDebugHeader +
                            "DIR1 2024-03-07 0 - não é um arquivo regular\n"
                            "FIFO1 2024-03-07 0 - não é um arquivo regular\n"
                            "SW1 2024-03-07 " +
                            configA +
                            "\n"
                            "SW2 2024-03-07 " +
                            empty + "\nSW5 2024-03-07 " + configA + "\n" + ties));

  const std::string routers = directory("routers");
  writeFile(routers + "/sw1", "config A\n");
  writeFile(routers + "/SW1", "");
  for (const char* name : {"sw1", "SW1"}) {
    setModificationTime(routers + "/" + name, utcSeconds(2024, 3, 6, 12, 0));
  }
  EXPECT_EQ(
      describe(runAgent({"coletarSaude", routers, "s", "debug"})),
      expected(0, kDebugHeader + inListingOrder(routers, {{"sw1", "SW1 2024-03-06 " + configA},
                                                          {"SW1", "SW1 2024-03-06 " + empty}})));
}

// What health must not read: a device (here one with no driver, whose opening fails), a link to
// it, and a sparse file past the bound, which would otherwise take seconds of hashing.
TEST_F(Reports, HealthRefusesDevicesAndFilesPastTheBound) {
  const std::string dir = directory("huawei-refused");
  const bool devices =
      ::mknod((dir + "/2024-03-07.cfg.dev1").c_str(), S_IFCHR | 0600, ::makedev(240, 77)) == 0;
  if (devices) {
    ASSERT_EQ(
        ::symlink((dir + "/2024-03-07.cfg.dev1").c_str(), (dir + "/2024-03-07.cfg.dev2").c_str()),
        0);
  }
  {
    const Fd file(
        ::open((dir + "/2024-03-07.cfg.big").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    ASSERT_EQ(::ftruncate(file.get(), (off_t{4} << 30) + 1), 0);
  }
  const std::string refused = " 2024-03-07 0 - não é um arquivo regular\n";
  EXPECT_EQ(describe(runAgent({"coletarSaude", dir, "s", "debug"})),
            expected(0, kDebugHeader +
                            "BIG 2024-03-07 0 - 4294967297 bytes, mais que o limite de 4294967296 "
                            "bytes lidos por backup\n" +
                            (devices ? "DEV1" + refused + "DEV2" + refused : "")));
}

// A backup of 256 MiB costs no more memory than one of a few bytes: each file goes through one
// buffer of a fixed size.
TEST_F(Reports, HealthOfALargeBackupCostsNoMoreMemory) {
  const std::string small = directory("small");
  writeFile(small + "/router1", "config\n");
  const std::string large = directory("large");
  {
    const Fd file(::open((large + "/router1").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    ASSERT_EQ(::ftruncate(file.get(), 256L << 20), 0);  // sparse: quick to make and to read
  }
  const RunResult smallRun = runAgent({"coletarSaude", small, "s", "debug"});
  const RunResult largeRun = runAgent({"coletarSaude", large, "s", "debug"});
  EXPECT_NE(largeRun.out.find(" 268435456 "), std::string::npos) << largeRun.out;
  std::cout << "peak RSS: " << smallRun.peakKib << " KiB for a few bytes, " << largeRun.peakKib
            << " KiB for 256 MiB\n";
  EXPECT_LE(largeRun.peakKib, smallRun.peakKib + 1024);
}

// Real archives, sound, cut at several points and with a byte flipped inside a member, and text
// with and without a pattern for its last line: each incomplete one says what is wrong after its
// digest, the sound ones print as they always have.
TEST_F(Reports, HealthSaysWhatIsIncomplete) {
  const std::string dir = directory("routers");
  const std::string config = configurationText(30000, 7);
  const std::string zip = zipArchive({{"running.cfg", config}, {"vlan.dat", config.substr(99)}});
  const std::size_t central = zip.find("PK\x01\x02");
  const std::string gz = gzipped(config);
  std::string flipped = zipArchive({{"running.cfg", config, false}});
  flipped[2000] = 'X';
  const std::map<std::string, std::string> files = {
      {"zip-ok", zip},
      {"zip-cut-member", zip.substr(0, 3000)},
      {"zip-cut-directory", zip.substr(0, central)},
      {"zip-cut-end", zip.substr(0, zip.size() - 1)},
      {"zip-flipped", flipped},
      {"gz-ok", gz},
      {"gz-cut", gz.substr(0, gz.size() - 5)},
      {"text-ok", config},
      {"text-cut", config.substr(0, 20000) + "\n"},
  };
  const std::map<std::string, std::string> verdicts = {
      {"zip-cut-member", "zip cortado no membro 'running.cfg'"},
      {"zip-cut-directory", "zip cortado: sem o diretório central"},
      {"zip-cut-end", "zip cortado no diretório central"},
      {"zip-flipped", "CRC-32 errado no membro 'running.cfg'"},
      {"gz-cut", "gzip cortado"},
  };
  // Its last line, without the blank the cut left at its end.
  std::string cutLine = config.substr(0, 20000);
  cutLine = cutLine.substr(cutLine.rfind('\n') + 1);
  cutLine.erase(cutLine.find_last_not_of(' ') + 1);
  for (const auto& [name, bytes] : files) {
    writeFile(dir + "/" + name, bytes);
    setModificationTime(dir + "/" + name, 1700000000);
  }
  for (const bool pattern : {false, true}) {
    SCOPED_TRACE(pattern ? "with a pattern" : "without a pattern");
    std::map<std::string, std::string> lines;
    for (const auto& [name, bytes] : files) {
      std::string upper = name;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      std::string verdict = verdicts.count(name) != 0 ? verdicts.at(name) : "";
      if (pattern && name == "text-cut") {
        verdict = "última linha '" + cutLine + "' não confere com BACKUP_MONITOR_LAST_LINE";
      }
      lines[name] = upper + " 2023-11-14 " + std::to_string(bytes.size()) + " " + sha256Hex(bytes) +
                    (verdict.empty() ? "" : " incompleto: " + verdict);
    }
    RunOptions options;
    if (pattern) options.env = {{"BACKUP_MONITOR_LAST_LINE", "^end$"}};
    EXPECT_EQ(describe(runAgent({"coletarSaude", dir, "s", "debug"}, options)),
              expected(0, kDebugHeader + inListingOrder(dir, lines)));
  }
}

TEST_F(Reports, AReportWhoseOutputNobodyReadsStillFinishes) {
  const std::string dir = directory("many");
  // More than a pipe holds, so the writes meet the closed pipe.
  for (int i = 0; i < 3000; ++i) makeFile(dir + "/host-with-a-long-name-" + std::to_string(i));
  RunOptions unread;
  unread.closedStdout = true;
  const RunResult r = runAgent({"coletarData", dir, "s", "debug"}, unread);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace bm::test
