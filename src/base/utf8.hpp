#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace bm::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

// Decodes the code point at text[i] and moves i past it. A byte that does not start a
// well-formed sequence (stray continuation, overlong form, surrogate, above U+10FFFF, cut short)
// decodes as U+FFFD and moves i by that one byte only: each undecodable byte gets its own U+FFFD.
char32_t next(std::string_view text, std::size_t& i);

void append(std::string& out, char32_t codePoint);

bool isAscii(std::string_view text);

// The longest start of text of at most most bytes that ends between two characters: a cut that
// never leaves half a character behind.
std::string_view wholeStart(std::string_view text, std::size_t most);

}  // namespace bm::utf8
