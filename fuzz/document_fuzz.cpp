// The discovery document writer on arbitrary names: pure ASCII, valid JSON of the expected
// shape, and the same texts back, with U+FFFD for each undecodable byte.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fuzz_check.hpp"
#include "reports/discovery_document.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Fields separated by NUL bytes, taken in pairs as host and date.
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      fields.emplace_back();
    } else {
      fields.back() += static_cast<char>(data[i]);
    }
  }
  std::vector<bm::BackupEntry> entries;
  for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
    entries.push_back({fields[i], fields[i + 1]});
  }
  const std::string document = bm::descobertaJson(entries);
  // Measured exactly before it was written: one allocation, no slack.
  FUZZ_CHECK(document.size() < 16 || document.capacity() == document.size());
  for (char c : document) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);

  const auto parsed = nlohmann::ordered_json::parse(document, nullptr, false);
  FUZZ_CHECK(!parsed.is_discarded() && parsed.is_object() && parsed.size() == 1);
  const auto& rows = parsed.at("data");
  FUZZ_CHECK(rows.is_array() && rows.size() == entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& row = rows[i];
    FUZZ_CHECK(row.is_object() && row.size() == 2);
    FUZZ_CHECK(row.begin().key() == "{#NOME_HOST}");
    FUZZ_CHECK(row.at("{#NOME_HOST}").get<std::string>() == fuzz::wellFormed(entries[i].nomeHost));
    FUZZ_CHECK(row.at("{#DATA_HOST}").get<std::string>() == fuzz::wellFormed(entries[i].dataHost));
  }
  return 0;
}
