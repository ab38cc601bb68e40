#include "cli/launch.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace bm {
namespace {

TEST(ChildArguments, ModeAfterTheLastLaunchThenPositionsTwoOn) {
  const std::vector<std::string> full = {"./bm", "launch_coletarData", "/d", "", "a b", "5", "h"};
  const struct {
    std::vector<std::string> arguments;
    std::vector<std::string> child;
  } cases[] = {
      {full, {"./bm", "coletarData", "/d", "", "a b", "5", "h"}},
      {{"bm", "launch_launch_coletarData", "/d", "s", "h"}, {"bm", "coletarData", "/d", "s", "h"}},
      {{"bm", "xlaunch_descobertaBackupsy"}, {"bm", "descobertaBackupsy"}},
      {{"bm", "launch_"}, {"bm", ""}},
      {{"bm", "launch_coletarData", "/d", "s"}, {"bm", "coletarData", "/d", "s"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments[1]);
    EXPECT_THAT(childArguments(c.arguments, c.arguments[1]), testing::ElementsAreArray(c.child));
  }
}

}  // namespace
}  // namespace bm
