#include "zabbix/protocol.hpp"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <nlohmann/json.hpp>

#include "base/failure.hpp"
#include "base/json_escape.hpp"
#include "base/number_text.hpp"
#include "base/utf8.hpp"

namespace bm {
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

// A string as the request carries it, byte for byte as the JSON library writes it: raw UTF-8,
// the short escapes, \u00xx for other control characters, U+FFFD for bytes that are not UTF-8.
// ASCII text, which the discovery document and numbers always are, is measured and written here
// without a copy; other text (a host or key with accents) goes through the library.
class JsonText {
 public:
  explicit JsonText(std::string_view text) : text_(text), ascii_(utf8::isAscii(text)) {
    if (!ascii_) {
      other_ = nlohmann::json(std::string(text))
                   .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
  }

  std::size_t size() const { return ascii_ ? json::keptStringSize(text_) : other_.size(); }

  void appendTo(std::string& out) const {
    if (ascii_) {
      json::appendKeptString(out, text_);
    } else {
      out += other_;
    }
  }

 private:
  std::string_view text_;
  bool ascii_;
  std::string other_;
};

// ,"clock":S,"ns":N
std::string clockText(const ValueClock& clock) {
  return R"(,"clock":)" + std::to_string(clock.seconds) + R"(,"ns":)" +
         std::to_string(clock.nanoseconds);
}

constexpr std::string_view kRequestStart = R"({"request":"sender data","data":[)";
constexpr std::string_view kRequestEnd = "]}";

}  // namespace

std::string senderRequest(const std::vector<Item>& items) {
  // Measured first, then written once into a string of its exact size: a request may carry a
  // discovery document of many megabytes, and should cost little more than itself.
  std::vector<JsonText> fields;
  fields.reserve(3 * items.size());
  std::size_t bodySize = kRequestStart.size() + kRequestEnd.size();
  for (const Item& item : items) {
    for (const std::string* text : {&item.host, &item.key, &item.value}) {
      bodySize += fields.emplace_back(*text).size();
    }
    bodySize += std::string_view(R"({"host":,"key":,"value":})").size();
    if (item.clock) bodySize += clockText(*item.clock).size();
  }
  bodySize += items.empty() ? 0 : items.size() - 1;  // the commas between items
  std::string framed;
  framed.reserve(kHeaderSize + bodySize);
  framed += kSignature;
  framed += static_cast<char>(kProtocolFlag);
  appendLittleEndian(framed, static_cast<std::uint32_t>(bodySize));
  appendLittleEndian(framed, 0);
  framed += kRequestStart;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) framed += ',';
    framed += R"({"host":)";
    fields[3 * i].appendTo(framed);
    framed += R"(,"key":)";
    fields[3 * i + 1].appendTo(framed);
    framed += R"(,"value":)";
    fields[3 * i + 2].appendTo(framed);
    if (items[i].clock) framed += clockText(*items[i].clock);
    framed += '}';
  }
  framed += kRequestEnd;
  return framed;
}

ValueClock clockNow() {
  timespec now{};
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0) failSystem("clock_gettime", errno);
  return {static_cast<std::int64_t>(now.tv_sec), static_cast<std::int32_t>(now.tv_nsec)};
}

Item makeItem(std::string host, std::string key, MetricValue value) {
  if (const auto* number = std::get_if<double>(&value)) {
    return {std::move(host), std::move(key), numberText(*number)};
  }
  return {std::move(host), std::move(key), std::move(std::get<std::string>(value))};
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

}  // namespace bm
