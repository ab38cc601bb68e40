#include "base/utf8.hpp"

#include <gtest/gtest.h>

namespace bm {
namespace {

std::u32string decode(std::string_view text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) out += utf8::next(text, i);
  return out;
}

TEST(Utf8, EachUndecodableByteBecomesOneReplacementCharacter) {
  const struct {
    const char* name;
    std::string bytes;
    std::u32string code_points;
  } cases[] = {
      {"ascii", "ab", U"ab"},
      {"two bytes", "\xc3\xa3", U"\u00e3"},
      {"three bytes", "\xe2\x82\xac", U"\u20ac"},
      {"four bytes", "\xf0\x9f\x98\x80", U"\U0001F600"},
      {"stray continuation",
       "a\x80"
       "b",
       U"a\ufffd"
       "b"},
      {"invalid lead", "\xff\xfe", U"\ufffd\ufffd"},
      {"overlong slash", "\xc0\xaf", U"\ufffd\ufffd"},
      {"overlong three", "\xe0\x80\xaf", U"\ufffd\ufffd\ufffd"},
      {"surrogate", "\xed\xa0\x80", U"\ufffd\ufffd\ufffd"},
      {"above U+10FFFF", "\xf4\x90\x80\x80", U"\ufffd\ufffd\ufffd\ufffd"},
      {"cut short at the end", "x\xe2\x82", U"x\ufffd\ufffd"},
      {"cut short before ascii", "\xe2\x82.", U"\ufffd\ufffd."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode(c.bytes), c.code_points);
  }
}

TEST(Utf8, EncodesEveryLength) {
  std::string out;
  for (char32_t cp : {U'a', U'\u00e3', U'\u20ac', U'\U0001F600'}) utf8::append(out, cp);
  EXPECT_EQ(out, "a\xc3\xa3\xe2\x82\xac\xf0\x9f\x98\x80");
  EXPECT_EQ(decode(out), U"a\u00e3\u20ac\U0001F600");
}

// A cut keeps whole characters: at a character's middle it falls back to its start.
TEST(Utf8, WholeStartNeverCutsACharacter) {
  const std::string text = "a\xc3\xa3\xe2\x82\xac";  // a, ã (2 bytes), € (3 bytes)
  const struct {
    std::size_t most;
    std::string_view start;
  } cases[] = {{0, ""},          {1, "a"},  {2, "a"},  {3, "a\xc3\xa3"},
               {5, "a\xc3\xa3"}, {6, text}, {99, text}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.most);
    EXPECT_EQ(utf8::wholeStart(text, c.most), c.start);
  }
}

}  // namespace
}  // namespace bm
