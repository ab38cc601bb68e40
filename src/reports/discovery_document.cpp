#include "reports/discovery_document.hpp"

#include "base/utf8.hpp"

namespace bm {
namespace {

void appendUnicodeEscape(std::string& out, char32_t unit) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

void appendEscaped(std::string& out, char32_t c) {
  switch (c) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\f':
      out += "\\f";
      return;
    default:
      break;
  }
  if (c >= 0x20 && c < 0x7F) {
    out += static_cast<char>(c);
  } else if (c < 0x10000) {
    appendUnicodeEscape(out, c);
  } else {
    const char32_t v = c - 0x10000;
    appendUnicodeEscape(out, 0xD800 + (v >> 10));
    appendUnicodeEscape(out, 0xDC00 + (v & 0x3FF));
  }
}

void appendMember(std::string& out, std::string_view name, std::string_view value) {
  appendJsonString(out, name);
  out += ": ";
  appendJsonString(out, value);
}

}  // namespace

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) appendEscaped(out, utf8::next(text, i));
  out += '"';
}

std::string descobertaJson(const std::vector<BackupEntry>& descoberta) {
  std::string out = "{\"data\": [";
  for (std::size_t i = 0; i < descoberta.size(); ++i) {
    if (i > 0) out += ", ";
    out += '{';
    appendMember(out, NOME_HOST, descoberta[i].nomeHost);
    out += ", ";
    appendMember(out, DATA_HOST, descoberta[i].dataHost);
    out += '}';
  }
  out += "]}";
  return out;
}

}  // namespace bm
