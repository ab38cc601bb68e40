#include "reports/discovery_document.hpp"

#include <gtest/gtest.h>

namespace bm {
namespace {

TEST(DescobertaJson, ExactSeparatorsAndMemberOrder) {
  const std::string one = descobertaJson({{"CORE-SW1", "2024-03-05"}});
  EXPECT_EQ(one, R"({"data": [{"{#NOME_HOST}": "CORE-SW1", "{#DATA_HOST}": "2024-03-05"}]})");
  EXPECT_EQ(one.size(), 70u);
  EXPECT_EQ(descobertaJson({}), R"({"data": []})");
  EXPECT_EQ(descobertaJson({{"A", "2024-03-05"}, {"B", "2024-03-04"}}),
            R"({"data": [{"{#NOME_HOST}": "A", "{#DATA_HOST}": "2024-03-05"}, )"
            R"({"{#NOME_HOST}": "B", "{#DATA_HOST}": "2024-03-04"}]})");
}

TEST(AppendJsonString, EscapesEverythingOutsidePrintableAscii) {
  const struct {
    const char* name;
    std::string text;
    std::string json;
  } cases[] = {
      {"plain", "CORE-SW1 a/b", R"("CORE-SW1 a/b")"},
      {"quote and backslash", "a\"b\\c", R"("a\"b\\c")"},
      {"short escapes", "\n\r\t\b\f", R"("\n\r\t\b\f")"},
      {"other controls", std::string("\x00\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
      {"delete", "\x7f", R"("\u007f")"},
      {"latin, lowercase hex", "SÃO", R"("S\u00c3O")"},
      {"euro", "\u20ac", R"("\u20ac")"},
      {"above U+FFFF as a surrogate pair", "\U0001F600", R"("\ud83d\ude00")"},
      {"right-to-left mark", "\u200f", R"("\u200f")"},
      {"undecodable bytes", "a\xff\xe2\x82", R"("a\ufffd\ufffd\ufffd")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    appendJsonString(out, c.text);
    EXPECT_EQ(out, c.json);
  }
}

}  // namespace
}  // namespace bm
