#include "base/system_log.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/log_socket.hpp"
#include "support/temp_dir.hpp"

namespace bm {
namespace {

using Severity = SystemLog::Severity;

// A daemon that restarts makes its socket anew: the lines after it reach the new one. A daemon
// that is slow to read gets the whole burst of a run (a detail line per refused device and the
// summary), not the ten datagrams the kernel queues by default. Bytes that are not UTF-8 are
// shown as \xNN, so that the journal keeps text.
TEST(SystemLog, ReachesADaemonThatRestartsOrIsSlowAndKeepsText) {
  const test::TempDir dir;
  const std::string path = dir / "log";
  auto first = std::make_unique<test::LogSocket>(path);
  SystemLog log(path);
  log.write(Severity::Info, "antes");
  EXPECT_EQ(first->lines(), std::vector<std::string>{"<14>antes"});
  first.reset();
  log.write(Severity::Info, "perdida: ninguém escuta");
  test::LogSocket second(path);
  log.write(Severity::Warning, "depois \xff\xc3(\xef\xbf\xbd \xc3\xa9");
  EXPECT_EQ(second.lines(),
            std::vector<std::string>{"<12>depois \\xff\\xc3(\xef\xbf\xbd \xc3\xa9"});
}

TEST(SystemLog, WaitsForASlowDaemonWithinItsBound) {
  const test::TempDir dir;
  const std::string path = dir / "log";
  test::LogSocket slow(path, std::chrono::milliseconds(300));
  SystemLog log(path);
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < SystemLog::kDetailLines; ++i) {
    log.detail(Severity::Warning, "recusa " + std::to_string(i));
    expected.push_back("<12>recusa " + std::to_string(i));
  }
  log.write(Severity::Warning, "resumo");
  expected.push_back("<12>resumo");
  EXPECT_EQ(slow.lines(), expected);
}

}  // namespace
}  // namespace bm
