#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bm::zabbix {

// One value for one item of one monitored host, its value already as the text Zabbix reads.
struct Item {
  std::string host;
  std::string key;
  std::string value;
};

inline constexpr std::size_t kHeaderSize = 13;
// Our requests and the server's replies are small; a longer reply is refused unread.
inline constexpr std::uint32_t kMaxReplySize = 16 * 1024 * 1024;

// The framed "sender data" request: ZBXD, flags 0x01, little-endian length, four zero bytes, then
// {"request":"sender data","data":[{"host":...,"key":...,"value":...}]}.
std::string senderRequest(const std::vector<Item>& items);

// The body length a reply header announces. Fails with Delivery on a wrong signature, on flags
// other than plain 0x01 (compressed, large packet), and on a length above kMaxReplySize.
std::uint32_t replyLength(std::string_view header, const std::string& peer);

// Whether a reply body is the JSON object {"response":"success",...}. Processed and failed counts
// do not matter: the server took the request.
bool isSuccess(std::string_view body);

}  // namespace bm::zabbix
