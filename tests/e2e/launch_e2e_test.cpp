// The launch mode with a spy as the child: what reaches it, and who holds the caller's output.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "base/fd.hpp"
#include "e2e.hpp"

namespace bm::test {
namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;

const std::string kSuccess = "Processo inicializado com sucesso!\n";

struct SpyRecord {
  std::vector<std::string> arguments;
  std::vector<std::string> descriptors;  // "fd N kind:inode"
  long processGroup = -1;
};

std::string unhex(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  }
  return out;
}

bool waitForFile(const std::string& path) {
  for (int i = 0; i < 1000; ++i) {
    if (::access(path.c_str(), F_OK) == 0) return true;
    ::usleep(10000);
  }
  return false;
}

SpyRecord readSpy(const std::string& path) {
  SpyRecord record;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("arg ", 0) == 0) record.arguments.push_back(unhex(line.substr(4)));
    if (line.rfind("fd ", 0) == 0) record.descriptors.push_back(line);
    if (line.rfind("pgrp ", 0) == 0) record.processGroup = std::stol(line.substr(5));
  }
  return record;
}

class Launch : public testing::Test {
 protected:
  RunOptions spyOptions() {
    RunOptions options;
    options.program = kBinary;
    options.env = {{"SPY_OUT", tmp_ / "record"},
                   {"SPY_RELEASE", tmp_ / "release"},
                   {"SPY_DONE", tmp_ / "done"}};
    return options;
  }

  void releaseSpy() {
    makeFile(tmp_ / "release");
    EXPECT_TRUE(waitForFile(tmp_ / "done"));
  }

  TempDir tmp_;
};

TEST_F(Launch, ChildGetsTheModeAfterTheLastLaunchAndEveryLaterArgument) {
  const std::vector<std::string> argv = {
      SPY, "xlaunch_launch_coletarData", "/dir with blanks", "", "\"quoted\"", "\xff\xfe", "host"};
  const RunResult r = run(argv, spyOptions());
  EXPECT_EQ(describe(r), expected(0, kSuccess));
  ASSERT_TRUE(waitForFile(tmp_ / "record"));
  const SpyRecord spy = readSpy(tmp_ / "record");
  EXPECT_THAT(spy.arguments, ElementsAre(SPY, "coletarData", "/dir with blanks", "", "\"quoted\"",
                                         "\xff\xfe", "host"));
  EXPECT_EQ(spy.processGroup, ::getpgrp());
  releaseSpy();
}

TEST_F(Launch, ArgumentsReachTheChildWithoutAnyShell) {
  const std::string marker = tmp_ / "a shell ran this";
  const std::vector<std::string> argv = {SPY,
                                         "launch_coletarData",
                                         "$(touch '" + marker + "')",
                                         "; touch '" + marker + "'",
                                         "| true",
                                         "*",
                                         "~",
                                         "h"};
  EXPECT_EQ(describe(run(argv, spyOptions())), expected(0, kSuccess));
  ASSERT_TRUE(waitForFile(tmp_ / "record"));
  EXPECT_THAT(readSpy(tmp_ / "record").arguments,
              ElementsAre(SPY, "coletarData", argv[2], argv[3], "| true", "*", "~", "h"));
  EXPECT_NE(::access(marker.c_str(), F_OK), 0);
  releaseSpy();
}

TEST_F(Launch, ChildHoldsOnlyStandardInputAndOnePipeForItsConsole) {
  RunOptions options = spyOptions();
  options.inheritedDescriptor = 7;  // a descriptor the launcher got without close-on-exec
  const RunResult r = run({SPY, "launch_"}, options);
  EXPECT_EQ(describe(r), expected(0, kSuccess));
  ASSERT_TRUE(waitForFile(tmp_ / "record"));
  const SpyRecord spy = readSpy(tmp_ / "record");
  EXPECT_THAT(spy.arguments, ElementsAre(SPY, ""));
  ASSERT_EQ(spy.descriptors.size(), 3u);
  EXPECT_EQ(spy.descriptors[0].substr(0, 9), "fd 0 chr:");  // /dev/null from the test
  const std::string console = spy.descriptors[1].substr(5);
  EXPECT_EQ(console.substr(0, 5), "pipe:");
  EXPECT_EQ(spy.descriptors[1], "fd 1 " + console);
  EXPECT_EQ(spy.descriptors[2], "fd 2 " + console);
  releaseSpy();
}

TEST_F(Launch, CallersReadingEndsWhenTheLauncherEndsNotTheChild) {
  // run() reads the launcher's output to its end; the spy is still waiting to be released.
  const RunResult r = run({SPY, "launch_descobertaBackups", "/d", "s", "h"}, spyOptions());
  EXPECT_EQ(describe(r), expected(0, kSuccess));
  ASSERT_TRUE(waitForFile(tmp_ / "record"));
  EXPECT_NE(::access((tmp_ / "done").c_str(), F_OK), 0) << "the child ended first";
  releaseSpy();
}

TEST_F(Launch, ChildIsFoundThroughPathWhenPositionZeroHasNoSlash) {
  makeDirectory(tmp_ / "bin");
  ASSERT_EQ(::symlink(SPY, (tmp_ / "bin/spy").c_str()), 0);
  RunOptions options = spyOptions();
  options.env["PATH"] = tmp_ / "bin";
  EXPECT_EQ(describe(run({"spy", "launch_coletarData"}, options)), expected(0, kSuccess));
  ASSERT_TRUE(waitForFile(tmp_ / "record"));
  EXPECT_THAT(readSpy(tmp_ / "record").arguments, ElementsAre("spy", "coletarData"));
  releaseSpy();
}

// The guide's UserParameter line locks its standard input, which the launched child keeps: a
// launch while the last one's child still runs says so and starts nothing; once that child has
// ended, the next one starts. (bash for exec -a, which puts the spy in the launcher's place.)
TEST_F(Launch, TheGuidesLockedLaunchCannotStack) {
  const std::string line = R"({ flock -n 0 && exec -a "$0" "$1" launch_coletarData /d s h || )"
                           R"(echo "Coleta anterior ainda em andamento"; } 0<>"$2")";
  RunOptions options = spyOptions();
  options.program = "/bin/bash";
  const std::vector<std::string> argv = {"bash", "-c", line, SPY, kBinary, tmp_ / "lock"};
  EXPECT_EQ(describe(run(argv, options)), expected(0, kSuccess));
  ASSERT_TRUE(waitForFile(tmp_ / "record"));
  EXPECT_EQ(describe(run(argv, options)), expected(0, "Coleta anterior ainda em andamento\n"));
  releaseSpy();
  const Fd lock(::open((tmp_ / "lock").c_str(), O_RDONLY | O_CLOEXEC));
  bool free = false;
  for (int i = 0; i < 1000 && !free; ++i) {
    free = ::flock(lock.get(), LOCK_EX | LOCK_NB) == 0;
    if (!free) ::usleep(10000);
  }
  ASSERT_TRUE(free) << "the child's lock outlived it";
  ::flock(lock.get(), LOCK_UN);
  EXPECT_EQ(describe(run(argv, options)), expected(0, kSuccess));
}

TEST_F(Launch, AProgramThatCannotStartIsAFailureWithoutTheSuccessLine) {
  makeFile(tmp_ / "not-executable");
  const struct {
    std::string program;
    std::string message;
  } cases[] = {
      {tmp_ / "missing", "posix_spawnp " + (tmp_ / "missing") + ": No such file or directory"},
      {tmp_ / "not-executable",
       "posix_spawnp " + (tmp_ / "not-executable") + ": Permission denied"},
      {"no-such-program-anywhere",
       "posix_spawnp no-such-program-anywhere: No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    RunOptions options;
    options.program = kBinary;
    EXPECT_EQ(
        describe(run({c.program, "launch_version"}, options)),
        expected(1, "",
                 failureReport("ErroDoSistema", c.message, "spawnChild", "src/cli/launch.cpp")));
  }
}

}  // namespace
}  // namespace bm::test
