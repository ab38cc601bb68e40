// Directories that could break a naive scan: odd names, many entries, no permission, link
// loops, FIFOs, a directory already removed. Each ends in correct output or the failure report.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>

#include "base/fd.hpp"
#include "e2e.hpp"
#include "support/fake_zabbix.hpp"

namespace bm::test {
namespace {

class HostileDirectories : public testing::Test {
 protected:
  std::string directory(const std::string& name, mode_t mode = 0755) {
    const std::string path = tmp_ / name;
    makeDirectory(path);
    ::chmod(path.c_str(), mode);
    return path;
  }
  TempDir tmp_;
};

// Every name reaches Zabbix as valid JSON with the text it shows, whatever bytes it holds.
TEST_F(HostileDirectories, OddNamesGiveValidJsonAndExactHosts) {
  const std::string dir = directory("odd");
  const std::vector<std::pair<std::string, std::string>> names = {
      {"a\nb", "A\nB"},
      {"\ttab\t", "TAB"},
      {"q\"uote", "Q\"UOTE"},
      {"back\\slash", "BACK\\SLASH"},
      {"ctl\x01\x7f", "CTL\x01\x7f"},
      {"bad\xff\xfe", "BAD\ufffd\ufffd"},
      {std::string(255, 'x'), std::string(255, 'X')},
      {"emoji\U0001F600", "EMOJI\U0001F600"},
      {"\u200frtl\u200f", "\u200fRTL\u200f"},
  };
  for (const auto& [name, host] : names) makeFile(dir + "/" + name, utcSeconds(2024, 3, 6, 12, 0));
  FakeZabbix server(44, [](int, const std::string&) { return FakeZabbix::success(); });
  EXPECT_EQ(describe(runAgent({"descobertaBackups", dir, "127.0.0.44", "backups"})),
            expected(0, "OK\n"));
  ASSERT_EQ(server.requests().size(), 1u);
  const auto request = nlohmann::json::parse(FakeZabbix::body(server.requests()[0]));
  const std::string document = request["data"][0]["value"];
  for (char c : document) ASSERT_LT(static_cast<unsigned char>(c), 0x80);
  const auto rows = nlohmann::json::parse(document)["data"];
  std::vector<std::string> hosts;
  for (const auto& row : rows) {
    hosts.push_back(row["{#NOME_HOST}"]);
    EXPECT_EQ(row["{#DATA_HOST}"], "2024-03-06");
  }
  std::vector<std::string> wanted;
  for (const auto& entry : names) wanted.push_back(entry.second);
  EXPECT_THAT(hosts, testing::UnorderedElementsAreArray(wanted));
}

TEST_F(HostileDirectories, AHundredThousandEntries) {
  const std::string dir = directory("many-huawei");
  for (int i = 0; i < 100000; ++i) {
    makeFile(dir + "/2024-03-0" + std::to_string(1 + i % 2) + ".cfg.sw" + std::to_string(i / 2));
  }
  const RunResult discovery = runAgent({"descobertaBackups", dir, "s", "debug"});
  const RunResult collection = runAgent({"coletarData", dir, "s", "debug"});
  EXPECT_EQ(discovery.status, 0);
  EXPECT_EQ(collection.status, 0);
  EXPECT_EQ(std::count(discovery.out.begin(), discovery.out.end(), '\n'), 3 + 50000);
  EXPECT_EQ(std::count(collection.out.begin(), collection.out.end(), '\n'), 3 + 50000);
  EXPECT_EQ(discovery.out.find("SW0 2024-03-01"), std::string::npos);
  EXPECT_NE(discovery.out.find("SW0 2024-03-02\n"), std::string::npos);
}

TEST_F(HostileDirectories, LinkLoopsAndFifos) {
  const std::string plain = directory("plain");
  makeFile(plain + "/router1", utcSeconds(2024, 3, 6, 12, 0));
  ASSERT_EQ(::mkfifo((plain + "/fifo").c_str(), 0644), 0);
  setModificationTime(plain + "/fifo", utcSeconds(2024, 3, 7, 12, 0));
  const std::string lines = listingOrder(plain)[0] == "fifo"
                                ? "FIFO 2024-03-07\nROUTER1 2024-03-06\n"
                                : "ROUTER1 2024-03-06\nFIFO 2024-03-07\n";
  // Only the FIFO's status is read: opening it would wait for a writer forever.
  EXPECT_EQ(describe(runAgent({"descobertaBackups", plain, "s", "debug"})),
            expected(0, kDebugHeader + lines));

  const std::string loops = directory("loops");
  ASSERT_EQ(::symlink("loop", (loops + "/loop").c_str()), 0);
  EXPECT_EQ(describe(runAgent({"coletarData", loops, "s", "debug"})),
            expected(1, "",
                     failureReport("ErroDoSistema",
                                   "stat " + loops + "/loop: Too many levels of symbolic links",
                                   "modificationTime", "src/catalogue/scan.cpp")));
  const std::string huaweiLoops = directory("loops-huawei");
  ASSERT_EQ(::symlink("2024-03-05.x.loop", (huaweiLoops + "/2024-03-05.x.loop").c_str()), 0);
  EXPECT_EQ(describe(runAgent({"descobertaBackups", huaweiLoops, "s", "debug"})),
            expected(0, kDebugHeader + "LOOP 2024-03-05\n"));
}

TEST_F(HostileDirectories, ADirectoryAlreadyRemovedListsNothing) {
  const std::string gone = directory("gone");
  const Fd fd(::open(gone.c_str(), O_RDONLY | O_DIRECTORY));  // inherited by the agent
  ASSERT_GE(fd.get(), 0);
  ASSERT_EQ(::rmdir(gone.c_str()), 0);
  const std::string path = "/proc/self/fd/" + std::to_string(fd.get());
  EXPECT_EQ(describe(runAgent({"descobertaBackups", path, "s", "debug"})),
            expected(0, kDebugHeader));
  EXPECT_EQ(describe(runAgent({"coletarData", path, "s", "debug"})), expected(0, kDebugHeader));
}

// A rotation job removes a file after the listing, before its status is read: the run goes on
// without it, in either scheme; a link whose target is gone still fails as above.
TEST_F(HostileDirectories, AFileRemovedAfterTheListingIsLeftOut) {
  const std::string plain = directory("rotated");
  makeFile(plain + "/router1", utcSeconds(2024, 3, 6, 12, 0));
  makeFile(plain + "/router2", utcSeconds(2024, 3, 6, 12, 0));
  const std::string named = directory("rotated-huawei");
  makeFile(named + "/2024-03-06.x.sw1");
  makeFile(named + "/2024-03-06.x.sw2");
  const auto withRemoved = [](const std::string& name) {
    RunOptions options;
    options.env = {
        {"LD_PRELOAD", VANISH}, {"BM_VANISH", name}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
    return options;
  };
  EXPECT_EQ(describe(runAgent({"descobertaBackups", plain, "s", "debug"}, withRemoved("router2"))),
            expected(0, kDebugHeader + "ROUTER1 2024-03-06\n"));
  EXPECT_EQ(
      describe(runAgent({"coletarSaude", named, "s", "debug"}, withRemoved("2024-03-06.x.sw1"))),
      expected(0, kDebugHeader +
                      "SW2 2024-03-06 0 "
                      "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n"));
}

// Permissions bind everyone but root: as root, the agent runs as nobody.
TEST_F(HostileDirectories, NoPermissionToListOrToSearch) {
  RunOptions options;
  std::vector<std::string> prefix;
  std::string agent = kBinary;
  if (::geteuid() == 0) {
    if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv to drop root";
    ::chmod(tmp_.path().c_str(), 0755);
    // A copy nobody can reach, wherever the build tree lies.
    agent = tmp_ / "backup-monitor";
    std::filesystem::copy_file(kBinary, agent);
    ::chmod(agent.c_str(), 0755);
    prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  const std::string unreadable = directory("unreadable", 0000);
  const std::string unsearchable = directory("unsearchable", 0755);
  makeFile(unsearchable + "/router1");
  ::chmod(unsearchable.c_str(), 0444);
  const auto collect = [&](const std::string& dir) {
    std::vector<std::string> argv = prefix;
    argv.insert(argv.end(), {agent, "coletarData", dir, "s", "debug"});
    options.program = argv[0];
    return describe(run(argv, options));
  };
  EXPECT_EQ(collect(unreadable),
            expected(1, "",
                     failureReport("ErroDoSistema", "opendir " + unreadable + ": Permission denied",
                                   "openDirectory", "src/catalogue/scan.cpp")));
  EXPECT_EQ(collect(unsearchable),
            expected(1, "",
                     failureReport("ErroDoSistema",
                                   "stat " + unsearchable + "/router1: Permission denied",
                                   "modificationTime", "src/catalogue/scan.cpp")));
  ::chmod(unreadable.c_str(), 0755);
  ::chmod(unsearchable.c_str(), 0755);
}

// A dangling link whose name would forge report lines and drive the terminal (a new line, a
// window title, a screen clear, DEL, 8-bit controls at both ends of their range, a line
// separator, a right-to-left override): the failure report escapes them all.
TEST_F(HostileDirectories, NamesInFailureReportsAreEscaped) {
  const std::string dir = directory("forged");
  const std::string name =
      "sw1\nFalha forjada\x1b]0;titulo\x07\x1b[2J\x7f\xc2\x80\xc2\x9b\xc2\x9f\u2028\u202eodot.exe";
  ASSERT_EQ(::symlink("/nonexistent", (dir + "/" + name).c_str()), 0);
  EXPECT_EQ(describe(runAgent({"coletarData", dir, "s", "debug"})),
            expected(1, "",
                     failureReport("ErroDoSistema",
                                   "stat " + dir +
                                       "/sw1\\x0aFalha forjada\\x1b]0;titulo\\x07\\x1b[2J\\x7f"
                                       "\\xc2\\x80\\xc2\\x9b\\xc2\\x9f"
                                       "\\xe2\\x80\\xa8\\xe2\\x80\\xaeodot.exe: "
                                       "No such file or directory",
                                   "modificationTime", "src/catalogue/scan.cpp")));
}

// The debug listings, the first step of every troubleshooting, show what drives the terminal or
// breaks a line escaped the same way; tabs, backspaces and other controls as they always were.
TEST_F(HostileDirectories, NamesInListingsCannotDriveTheTerminal) {
  const std::string dir = directory("listed");
  const std::map<std::string, std::string> listed = {
      {"sw1\nSW9 2024-01-01", "SW1\\x0aSW9 2024-01-01"},
      {"t\x1b]0;x\x07", "T\\x1b]0;X\\x07"},
      {"c\x1b[2J", "C\\x1b[2J"},
      {"vt\vff\fcr\rx", "VT\\x0bFF\\x0cCR\\x0dX"},
      {"nel\u0085ls\u2028ps\u2029x", "NEL\\xc2\\x85LS\\xe2\\x80\\xa8PS\\xe2\\x80\\xa9X"},
      {"rl\u202eo\u2066i\u2069", "RL\\xe2\\x80\\xaeO\\xe2\\x81\\xa6I\\xe2\\x81\\xa9"},
      {"tab\tx\bx\x01", "TAB\tX\bX\x01"},
  };
  for (const auto& entry : listed) makeFile(dir + "/" + entry.first, utcSeconds(2024, 3, 6, 12, 0));
  std::string lines, sizes;
  for (const std::string& name : listingOrder(dir)) {
    lines += listed.at(name) + " 2024-03-06\n";
    sizes += listed.at(name) +
             " 2024-03-06 0 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n";
  }
  EXPECT_EQ(describe(runAgent({"descobertaBackups", dir, "s", "debug"})),
            expected(0, kDebugHeader + lines));
  EXPECT_EQ(describe(runAgent({"coletarSaude", dir, "s", "debug"})),
            expected(0, kDebugHeader + sizes));
  // The collection's lines go on with the file's time and its age, which changes by the second.
  RunResult ages = runAgent({"coletarData", dir, "s", "debug"});
  static const std::regex timeAndAge(R"( 2024-03-06 \S+ \S+\n)");
  ages.out = std::regex_replace(ages.out, timeAndAge, " 2024-03-06\n");
  EXPECT_EQ(describe(ages), expected(0, kDebugHeader + lines));
}

#if !defined(BM_SANITIZED)
// Twenty thousand names of 240 undecodable bytes make a discovery request of about 33 MiB: the
// run holds the document and the request once each, beyond what the scan itself needs.
TEST_F(HostileDirectories, ALargeDiscoveryCostsAboutTwiceItsRequest) {
  const std::string dir = directory("undecodable");
  for (int i = 0; i < 20000; ++i) {
    std::string name(240, '\xff');
    for (int k = 0; k < 3; ++k) name[k] = static_cast<char>(0x80 + ((i >> (6 * k)) & 63));
    const Fd file(::open((dir + "/" + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    ASSERT_GE(file.get(), 0);
  }
  FakeZabbix server(49, [](int, const std::string&) { return FakeZabbix::success(); });
  const RunResult listing = runAgent({"descobertaBackups", dir, "127.0.0.49", "debug"});
  const RunResult sent = runAgent({"descobertaBackups", dir, "127.0.0.49", "backups"});
  EXPECT_EQ(describe(sent), expected(0, "OK\n"));
  ASSERT_EQ(server.requests().size(), 1u);
  const long requestKib = static_cast<long>(server.requests()[0].size() / 1024);
  std::cout << "request " << requestKib << " KiB, peak " << sent.peakKib
            << " KiB, scan and listing " << listing.peakKib << " KiB\n";
  EXPECT_LE(sent.peakKib, listing.peakKib + 2 * requestKib);
}
#endif

}  // namespace
}  // namespace bm::test
