#include "reports/discovery_document.hpp"

#include <utility>

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

// Measured first and written once: the document may be many megabytes, and is held only once.
// row(i) gives the i-th entry's host name and date.
template <typename Row>
std::string document(std::size_t count, const Row& row) {
  constexpr std::string_view kEntry = R"({: , : })";
  std::size_t size = std::string_view(R"({"data": []})").size();
  for (std::size_t i = 0; i < count; ++i) {
    const auto [host, date] = row(i);
    size += kEntry.size() + jsonStringSize(NOME_HOST) + jsonStringSize(host) +
            jsonStringSize(DATA_HOST) + jsonStringSize(date);
  }
  size += count == 0 ? 0 : 2 * (count - 1);  // ", " between entries
  std::string out;
  out.reserve(size);
  out += "{\"data\": [";
  for (std::size_t i = 0; i < count; ++i) {
    const auto [host, date] = row(i);
    if (i > 0) out += ", ";
    out += '{';
    appendMember(out, NOME_HOST, host);
    out += ", ";
    appendMember(out, DATA_HOST, date);
    out += '}';
  }
  out += "]}";
  return out;
}

}  // namespace

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) appendEscaped(out, utf8::next(text, i));
  out += '"';
}

std::string descobertaJson(const std::vector<BackupEntry>& descoberta) {
  return document(descoberta.size(), [&descoberta](std::size_t i) {
    return std::pair<std::string_view, std::string_view>(descoberta[i].nomeHost,
                                                         descoberta[i].dataHost);
  });
}

std::string descobertaJson(const Listing& listing, const std::vector<std::uint32_t>& chosen) {
  return document(chosen.size(), [&listing, &chosen](std::size_t i) {
    const ListedEntry& entry = listing.entries[chosen[i]];
    return std::pair<std::string_view, std::string>(listing.hosts[entry.host],
                                                    listing.shownDate(entry));
  });
}

std::string inventarioJson(const Inventory& inventory, const InventoryGaps& gaps) {
  std::string out = R"({"esperados":)" + std::to_string(inventory.names.size()) +
                    R"(,"semBackup":)" + std::to_string(gaps.missing.size()) +
                    R"(,"foraDoInventario":)" + std::to_string(gaps.unlisted.size()) +
                    R"(,"data":[)";
  const auto device = [&out](std::string_view name, char state) {
    if (out.back() != '[') out += ',';
    out += R"({"nome":)";
    appendJsonString(out, name);
    out += R"(,"estado":)";
    out += state;
    out += '}';
  };
  for (const std::uint32_t id : gaps.missing) device(inventory.names[id], '1');
  for (std::uint32_t id = 0; id < gaps.unlisted.size(); ++id) device(gaps.unlisted[id], '2');
  out += "]}";
  return out;
}

}  // namespace bm
