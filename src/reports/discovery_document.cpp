#include "reports/discovery_document.hpp"

#include "base/json_escape.hpp"
#include "base/utf8.hpp"

namespace bm {
namespace {

void appendEscaped(std::string& out, char32_t c) {
  if (const std::string_view escape = json::shortEscape(c); !escape.empty()) {
    out += escape;
  } else if (c >= 0x20 && c < 0x7F) {
    out += static_cast<char>(c);
  } else if (c < 0x10000) {
    json::appendUnicodeEscape(out, c);
  } else {
    const char32_t v = c - 0x10000;
    json::appendUnicodeEscape(out, 0xD800 + (v >> 10));
    json::appendUnicodeEscape(out, 0xDC00 + (v & 0x3FF));
  }
}

// What appendEscaped writes for c, in bytes.
std::size_t escapedSize(char32_t c) {
  if (!json::shortEscape(c).empty()) return 2;
  if (c >= 0x20 && c < 0x7F) return 1;
  return c < 0x10000 ? 6 : 12;
}

std::size_t jsonStringSize(std::string_view text) {
  std::size_t size = 2;
  for (std::size_t i = 0; i < text.size();) size += escapedSize(utf8::next(text, i));
  return size;
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

// Measured first and written once: the document may be many megabytes, and is held only once.
std::string descobertaJson(const std::vector<BackupEntry>& descoberta) {
  constexpr std::string_view kEntry = R"({: , : })";
  std::size_t size = std::string_view(R"({"data": []})").size();
  for (const BackupEntry& entry : descoberta) {
    size += kEntry.size() + jsonStringSize(NOME_HOST) + jsonStringSize(entry.nomeHost) +
            jsonStringSize(DATA_HOST) + jsonStringSize(entry.dataHost);
  }
  size += descoberta.empty() ? 0 : 2 * (descoberta.size() - 1);  // ", " between entries
  std::string out;
  out.reserve(size);
  out += "{\"data\": [";
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
