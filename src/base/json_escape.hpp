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

// A JSON string that keeps every byte from 0x20 up as it is, as the JSON library writes UTF-8:
// the short escapes, \u00xx for the other control characters. The request's ASCII texts and the
// health value are written by it.
inline std::size_t keptStringSize(std::string_view text) {
  std::size_t size = 2;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    size += !shortEscape(byte).empty() ? 2 : byte < 0x20 ? 6 : 1;
  }
  return size;
}

inline void appendKeptString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (const std::string_view escape = shortEscape(byte); !escape.empty()) {
      out += escape;
    } else if (byte < 0x20) {
      appendUnicodeEscape(out, byte);
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace bm::json
