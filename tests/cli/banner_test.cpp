#include "cli/banner.hpp"

#include <gtest/gtest.h>

namespace bm {
namespace {

TEST(VersionLine, ReplacesEveryDotSlashOnceFromTheLeft) {
  const struct {
    const char* program;
    const char* line;
  } cases[] = {
      {"./backup-monitor", " backup-monitor  1.0.1"},
      {"/usr/local/bin/backup-monitor", "/usr/local/bin/backup-monitor  1.0.1"},
      {"backup-monitor", "backup-monitor  1.0.1"},
      {"../bin/backup-monitor", ". bin/backup-monitor  1.0.1"},
      {"././backup-monitor", "  backup-monitor  1.0.1"},
      {".//backup-monitor", " /backup-monitor  1.0.1"},
      {"/opt/./backup-monitor", "/opt/ backup-monitor  1.0.1"},
      {".../x", ".. x  1.0.1"},
      {"a.b/c", "a.b/c  1.0.1"},
      {"", "  1.0.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    EXPECT_EQ(versionLine(c.program), c.line);
  }
}

}  // namespace
}  // namespace bm
