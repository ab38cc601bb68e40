#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "zabbix/reply_json.hpp"

namespace bm {

// A value as a report hands it over: the discovery document, or an age in seconds.
using MetricValue = std::variant<std::string, double>;

// The moment a value was taken, as Zabbix stores it: seconds since the epoch and nanoseconds.
struct ValueClock {
  std::int64_t seconds = 0;
  std::int32_t nanoseconds = 0;
};

// The current time, to stamp a value with.
ValueClock clockNow();

// One value for one item of one monitored host, its value already as the text Zabbix reads.
// Without a clock, the server stamps the value with the time it processes it.
struct Item {
  Item(std::string h, std::string k, std::string v, std::optional<ValueClock> c = std::nullopt)
      : host(std::move(h)), key(std::move(k)), value(std::move(v)), clock(c) {}

  std::string host;
  std::string key;
  std::string value;
  std::optional<ValueClock> clock;
};

// The item for a report's value: a number goes as its shortest round-trip text ("86400.5",
// "1e+16"); a document is moved, not copied, for it may be many megabytes.
Item makeItem(std::string host, std::string key, MetricValue value);

inline constexpr std::size_t kHeaderSize = 13;
// Our requests and the server's replies are small; a longer reply is refused unread.
inline constexpr std::uint32_t kMaxReplySize = 16 * 1024 * 1024;

// The framed "sender data" request: ZBXD, flags 0x01, little-endian length, four zero bytes, then
// {"request":"sender data","data":[{"host":...,"key":...,"value":...}]}, written into a string of
// exactly its size; an item with a clock adds ,"clock":S,"ns":N after its value. The request
// itself carries no clock, so that the server takes each value's clock as it is, however late a
// retry brings it. Text that is not UTF-8 (a host typed so) goes as U+FFFD.
std::string senderRequest(const std::vector<Item>& items);

// A reply read as it arrives, in pieces of any size: the 13-byte header, then as many bytes as
// it announces. Bytes after those are not looked at.
class ReplyReader {
 public:
  explicit ReplyReader(std::string peer) : peer_(std::move(peer)) {}

  // Takes the next bytes; true once the reply is complete. Fails with Delivery as soon as the
  // header shows a reply this client does not take, before anything is allocated for its body.
  bool feed(std::string_view bytes);

  std::size_t received() const { return header_.size() + body_.size(); }
  // Once complete: whether the server answered "success", and what it said.
  bool success() const { return isSuccess(body_); }
  Reply reply() const { return readReply(body_); }
  const std::string& body() const { return body_; }

 private:
  std::string peer_;
  std::string header_;
  std::string body_;
  std::uint32_t length_ = 0;
};

// The body length a reply header announces. Fails with Delivery on a wrong signature, on flags
// other than plain 0x01 (compressed, large packet), and on a length above kMaxReplySize.
std::uint32_t replyLength(std::string_view header, const std::string& peer);

}  // namespace bm
