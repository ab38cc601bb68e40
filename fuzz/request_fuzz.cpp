// The sender request written in one pass is, byte for byte, what the JSON library writes for the
// same items, whatever bytes the host, key and value hold, with or without each value's clock;
// and it is measured exactly.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fuzz_check.hpp"
#include "zabbix/protocol.hpp"

namespace {

std::string libraryRequest(const std::vector<bm::Item>& items) {
  nlohmann::ordered_json data = nlohmann::ordered_json::array();
  for (const bm::Item& item : items) {
    nlohmann::ordered_json value = {{"host", item.host}, {"key", item.key}, {"value", item.value}};
    if (item.clock) {
      value["clock"] = item.clock->seconds;
      value["ns"] = item.clock->nanoseconds;
    }
    data.push_back(std::move(value));
  }
  const nlohmann::ordered_json request = {{"request", "sender data"}, {"data", std::move(data)}};
  const std::string body = request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::string framed = "ZBXD\x01";
  for (int i = 0; i < 4; ++i) framed += static_cast<char>((body.size() >> (8 * i)) & 0xFF);
  framed.append(4, '\0');
  return framed + body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Fields separated by 0xFE bytes, taken three at a time as host, key and value.
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFE) {
      fields.emplace_back();
    } else {
      fields.back() += static_cast<char>(data[i]);
    }
  }
  std::vector<bm::Item> items;
  for (std::size_t i = 0; i + 2 < fields.size() || (i == 0 && items.empty()); i += 3) {
    fields.resize(std::max(fields.size(), i + 3));
    items.push_back({fields[i], fields[i + 1], fields[i + 2]});
    // Values whose key is of odd length carry a clock made of the fields' sizes.
    if (fields[i + 1].size() % 2 == 1) {
      const auto seconds = static_cast<std::int64_t>(fields[i].size()) * 1000003 - 7;
      const auto nanoseconds =
          static_cast<std::int32_t>(fields[i + 2].size() * 999983 % 1000000000);
      items.back().clock = bm::ValueClock{seconds, nanoseconds};
    }
  }
  const std::string request = bm::senderRequest(items);
  FUZZ_CHECK(request == libraryRequest(items));
  FUZZ_CHECK(request.capacity() == request.size());
  return 0;
}
