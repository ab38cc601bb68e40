#include "zabbix/item_key.hpp"

#include <gtest/gtest.h>

namespace bm {
namespace {

TEST(ItemKeyParameter, QuotesWhereTheServerQuotesDiscoveredNames) {
  const struct {
    const char* name;
    const char* parameter;
  } cases[] = {
      {"CORE-SW1", "CORE-SW1"},
      {"SW,1", R"("SW,1")"},
      {"SW]1", R"("SW]1")"},
      {"[SW1", R"("[SW1")"},
      {R"("SW1")", R"("\"SW1\"")"},
      {R"(SW",1)", R"("SW\",1")"},
      {" SW1", R"(" SW1")"},
      {"SW[1", "SW[1"},
      {R"(SW"1)", R"(SW"1)"},
      {"SW 1", "SW 1"},
      {R"(SW\1)", R"(SW\1)"},
      {"SÃO-PAULO", "SÃO-PAULO"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(itemKeyParameter(c.name), c.parameter);
  }
}

}  // namespace
}  // namespace bm
