#include "cli/banner.hpp"

#include <gtest/gtest.h>

#include "base/version.hpp"

namespace bm {
namespace {

TEST(VersionLine, ReplacesEveryDotSlashOnceFromTheLeft) {
  const struct {
    const char* program;
    const char* line;  // before the version
  } cases[] = {
      {"./backup-monitor", " backup-monitor"},
      {"/usr/local/bin/backup-monitor", "/usr/local/bin/backup-monitor"},
      {"backup-monitor", "backup-monitor"},
      {"../bin/backup-monitor", ". bin/backup-monitor"},
      {"././backup-monitor", "  backup-monitor"},
      {".//backup-monitor", " /backup-monitor"},
      {"/opt/./backup-monitor", "/opt/ backup-monitor"},
      {".../x", ".. x"},
      {"a.b/c", "a.b/c"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    EXPECT_EQ(versionLine(c.program), std::string(c.line) + "  " + VERSION);
  }
}

}  // namespace
}  // namespace bm
