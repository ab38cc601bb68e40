#include "cli/arguments.hpp"

#include <gtest/gtest.h>

#include "base/failure.hpp"

namespace bm {
namespace {

std::string show(const std::optional<std::string>& value) { return value ? *value : "<unset>"; }

TEST(LerArgumentos, ReadsPositionsAndTakesTheHostFromTheLast) {
  const struct {
    std::vector<std::string> arguments;
    const char* mode;
    const char* caminho;
    const char* server;
    const char* host;
  } cases[] = {
      {{"bm", "version"}, "version", "<unset>", "<unset>", "<unset>"},
      {{"bm", "descobertaBackups"}, "descobertaBackups", "<unset>", "<unset>", "<unset>"},
      {{"bm", "m", "/d", "srv"}, "m", "/d", "srv", "srv"},
      {{"bm", "m", "/d", "srv", "host"}, "m", "/d", "srv", "host"},
      {{"bm", "m", "/d", "srv", "4", "5", "host"}, "m", "/d", "srv", "host"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.size());
    const ProcessValues values = lerArgumentos(c.arguments);
    EXPECT_EQ(values.mode, c.mode);
    EXPECT_EQ(show(values.caminho), c.caminho);
    EXPECT_EQ(show(values.zabbix_server), c.server);
    EXPECT_EQ(show(values.zabbix_host), c.host);
    EXPECT_EQ(values.arguments, c.arguments);
  }
}

TEST(LerArgumentos, FailsAtTheFirstMissingPosition) {
  const struct {
    std::vector<std::string> arguments;
    const char* message;
  } cases[] = {
      {{"bm"}, "a posição 1 não existe na lista de argumentos (0 argumentos após o programa)"},
      {{}, "a posição 1 não existe na lista de argumentos (0 argumentos após o programa)"},
      {{"bm", "version", "/d"},
       "a posição 3 não existe na lista de argumentos (2 argumentos após o programa)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      lerArgumentos(c.arguments);
      ADD_FAILURE() << "no failure";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::MissingArgument);
      EXPECT_EQ(failure.message(), c.message);
      EXPECT_STREQ(failure.origin().function, "lerArgumentos");
    }
  }
}

}  // namespace
}  // namespace bm
