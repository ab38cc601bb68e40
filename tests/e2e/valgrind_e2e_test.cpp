// A few runs under valgrind's memcheck, which sees what the sanitizers do not: reads of
// uninitialised memory. Skipped in the sanitizer build, where the two cannot work together.
#include <gtest/gtest.h>
#include <unistd.h>

#include "e2e.hpp"
#include "support/fake_zabbix.hpp"

namespace bm::test {
namespace {

RunResult underValgrind(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {"/usr/bin/valgrind",
                                   "--error-exitcode=99",
                                   "--quiet",
                                   "--leak-check=full",
                                   "--errors-for-leak-kinds=definite",
                                   kBinary};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  RunOptions options;
  options.program = argv[0];
  return run(argv, options);
}

class Valgrind : public testing::Test {
 protected:
  void SetUp() override {
#ifdef BM_SANITIZED
    GTEST_SKIP() << "built with sanitizers";
#endif
    if (::access("/usr/bin/valgrind", X_OK) != 0) GTEST_SKIP() << "valgrind is not installed";
    makeDirectory(tmp_ / "huawei");
    makeFile(tmp_ / "huawei/2024-03-05.cfg.são-paulo.zip", 1700000000);
    makeFile(tmp_ / "huawei/2024-03-07.cfg.core-sw1.zip", 1700000000, 500000000);
    makeDirectory(tmp_ / "routers");
    makeFile(tmp_ / "routers/router1.cfg", 1700000000);
  }
  TempDir tmp_;
};

TEST_F(Valgrind, DebugReports) {
  EXPECT_EQ(describe(underValgrind({"descobertaBackups", tmp_ / "huawei", "s", "debug"})),
            expected(0, kDebugHeader + "CORE-SW1 2024-03-07\nSÃO-PAULO 2024-03-05\n"));
  const RunResult collection = underValgrind({"coletarData", tmp_ / "routers", "s", "debug"});
  EXPECT_EQ(collection.status, 0);
  EXPECT_EQ(collection.err, "");
}

TEST_F(Valgrind, DeliveryAndLaunch) {
  FakeZabbix server(45, [](int, const std::string&) { return FakeZabbix::success(); });
  EXPECT_EQ(describe(underValgrind({"descobertaBackups", tmp_ / "huawei", "127.0.0.45", "h"})),
            expected(0, "OK\n"));
  EXPECT_EQ(describe(underValgrind({"coletarData", tmp_ / "huawei", "127.0.0.45", "h"})),
            expected(0, ""));
  EXPECT_EQ(server.requests().size(), 3u);
  EXPECT_EQ(describe(underValgrind({"launch_version"})),
            expected(0, "Processo inicializado com sucesso!\n"));
}

}  // namespace
}  // namespace bm::test
