// The command line end to end: argument counts, dispatch, the banner and the failure report.
#include <gtest/gtest.h>
#include <unistd.h>

#include "e2e.hpp"

namespace bm::test {
namespace {

const std::string kUnrecognised = "Modo de execução não ecnontrado.\n";

std::string missingPosition(int position, int given) {
  return failureReport("ArgumentoAusente",
                       "a posição " + std::to_string(position) +
                           " não existe na lista de argumentos (" + std::to_string(given) +
                           " argumentos após o programa)",
                       "lerArgumentos", "src/cli/arguments.cpp");
}

std::string unsetCaminho() {
  return failureReport("ValorNaoDefinido",
                       "o valor 'caminho' não foi definido (o modo veio sozinho)", "dispatch",
                       "src/cli/dispatch.cpp");
}

TEST(CommandLine, CountsDispatchAndFailures) {
  TempDir tmp;
  const std::string dir = tmp.path();
  const std::string banner = std::string(kNotice) + "backup-monitor  " + VERSION + "\n";
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::string result;
  } cases[] = {
      {"no argument", {}, expected(1, "", missingPosition(1, 0))},
      {"version alone", {"version"}, expected(0, banner)},
      {"version with three more", {"version", "a", "b", "c"}, expected(0, banner)},
      {"version with one more", {"version", "a"}, expected(1, "", missingPosition(3, 2))},
      {"unknown mode with one more", {"nada", "a"}, expected(1, "", missingPosition(3, 2))},
      {"discovery alone", {"descobertaBackups"}, expected(1, "", unsetCaminho())},
      {"collection alone", {"coletarData"}, expected(1, "", unsetCaminho())},
      {"capital version", {"Version"}, expected(1, kUnrecognised)},
      {"capital discovery", {"DescobertaBackups", dir, "s", "debug"}, expected(1, kUnrecognised)},
      {"empty mode", {""}, expected(1, kUnrecognised)},
      {"launch without underscore", {"launch", dir, "s", "h"}, expected(1, kUnrecognised)},
      {"longer text", {"coletarDataX", dir, "s", "debug"}, expected(1, kUnrecognised)},
      {"server taken as host", {"descobertaBackups", dir, "debug"}, expected(0, kDebugHeader)},
      {"host from the last of six",
       {"coletarData", dir, "s", "x", "y", "debug"},
       expected(0, kDebugHeader)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(describe(runAgent(c.arguments)), c.result);
  }
}

TEST(CommandLine, BannerShowsPositionZeroWithEveryDotSlashReplaced) {
  TempDir tmp;
  makeDirectory(tmp / "bin");
  makeDirectory(tmp / "work");
  ASSERT_EQ(::symlink(kBinary, (tmp / "bin/backup-monitor").c_str()), 0);
  const std::string absolute = tmp / "bin/backup-monitor";
  const struct {
    std::string program;
    std::string directory;
    bool searchPath;
    std::string line;  // before the version
  } cases[] = {
      {"./backup-monitor", tmp / "bin", false, " backup-monitor"},
      {"../bin/backup-monitor", tmp / "work", false, ". bin/backup-monitor"},
      {absolute, "", false, absolute + ""},
      {"backup-monitor", "", true, "backup-monitor"},
      {".//backup-monitor", tmp / "bin", false, " /backup-monitor"},
      {tmp.path() + "/./bin/backup-monitor", "", false, tmp.path() + "/ bin/backup-monitor"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    RunOptions options;
    options.program = c.program;
    options.directory = c.directory;
    options.searchPath = c.searchPath;
    if (c.searchPath) options.env["PATH"] = tmp / "bin";
    EXPECT_EQ(describe(run({c.program, "version"}, options)),
              expected(0, kNotice + c.line + "  " + VERSION + "\n"));
  }
}

}  // namespace
}  // namespace bm::test
