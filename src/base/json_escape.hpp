#pragma once

#include <string>
#include <string_view>

namespace bm::json {

// The two-character escapes \" \\ \b \f \n \r \t, or nothing for any other character. Both of
// our JSON writers use them; they differ in what else they escape (the discovery document writes
// everything outside printable ASCII as \uXXXX, the request keeps UTF-8 as the JSON library does).
inline std::string_view shortEscape(char32_t c) {
  switch (c) {
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    case '\b':
      return "\\b";
    case '\f':
      return "\\f";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      return {};
  }
}

// \uXXXX with lowercase digits, for one UTF-16 unit.
inline void appendUnicodeEscape(std::string& out, char32_t unit) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

}  // namespace bm::json
