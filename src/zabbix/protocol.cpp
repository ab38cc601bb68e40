#include "zabbix/protocol.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "base/failure.hpp"

namespace bm::zabbix {
namespace {

constexpr std::string_view kSignature = "ZBXD";
constexpr unsigned char kProtocolFlag = 0x01;

void appendLittleEndian(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t readLittleEndian(std::string_view bytes) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

}  // namespace

std::string senderRequest(const std::vector<Item>& items) {
  nlohmann::ordered_json data = nlohmann::ordered_json::array();
  for (const Item& item : items) {
    data.push_back({{"host", item.host}, {"key", item.key}, {"value", item.value}});
  }
  const nlohmann::ordered_json request = {{"request", "sender data"}, {"data", std::move(data)}};
  // Text that is not UTF-8 (a host typed so) goes as U+FFFD rather than failing the send.
  const std::string body = request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::string framed(kSignature);
  framed += static_cast<char>(kProtocolFlag);
  appendLittleEndian(framed, static_cast<std::uint32_t>(body.size()));
  appendLittleEndian(framed, 0);
  return framed + body;
}

std::uint32_t replyLength(std::string_view header, const std::string& peer) {
  if (header.substr(0, 4) != kSignature) {
    throw Failure(FailureKind::Delivery, "resposta de " + peer + " sem a assinatura ZBXD");
  }
  const auto flags = static_cast<unsigned char>(header[4]);
  if (flags != kProtocolFlag) {
    throw Failure(FailureKind::Delivery,
                  "resposta de " + peer + " com flags " + std::to_string(flags) + " (esperado 1)");
  }
  const std::uint32_t length = readLittleEndian(header.substr(5, 4));
  if (length > kMaxReplySize) {
    throw Failure(FailureKind::Delivery, "resposta de " + peer + " anuncia " +
                                             std::to_string(length) + " bytes, acima de 16 MiB");
  }
  return length;
}

bool ReplyReader::feed(std::string_view bytes) {
  if (header_.size() < kHeaderSize) {
    const std::size_t take = std::min(bytes.size(), kHeaderSize - header_.size());
    header_.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    if (header_.size() < kHeaderSize) return false;
    length_ = replyLength(header_, peer_);
    body_.reserve(length_);
  }
  body_.append(bytes.substr(0, length_ - body_.size()));
  return body_.size() == length_;
}

}  // namespace bm::zabbix
