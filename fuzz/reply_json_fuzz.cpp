// The reply's JSON read in one pass agrees with a parsed document on every body: the same
// grammar, the same top-level "response", "info" and "redirect" address. The first byte may wrap
// the body in nesting thousands of levels deep, which the one-pass reader must take in its stride.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz_check.hpp"
#include "zabbix/protocol.hpp"

namespace {

std::string redirectAddress(const nlohmann::json& reply) {
  const auto redirect = reply.find("redirect");
  if (redirect == reply.end() || !redirect->is_object()) return "";
  const auto address = redirect->find("address");
  if (address == redirect->end() || !address->is_string()) return "";
  std::string text = address->get<std::string>();
  return text.size() <= bm::kAddressLimit ? text : "";
}

// The first kInfoLimit bytes, less a character that would cross the limit.
std::string cutInfo(const std::string& info) {
  if (info.size() <= bm::kInfoLimit) return info;
  std::size_t cut = bm::kInfoLimit;
  while (cut > 0 && (static_cast<unsigned char>(info[cut]) & 0xC0) == 0x80) --cut;
  return info.substr(0, cut);
}

bm::Reply parsedReply(const std::string& body) {
  const nlohmann::json reply = nlohmann::json::parse(body, nullptr, false);
  if (!reply.is_object()) return {};
  const auto response = reply.find("response");
  const auto info = reply.find("info");
  return {response != reply.end() && *response == "success",
          info != reply.end() && info->is_string() ? cutInfo(info->get<std::string>()) : "",
          redirectAddress(reply)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  const unsigned depth = data[0] < 0xF0 ? 0 : (data[0] - 0xEF) * 4000u;
  if (depth > 0) {
    // {"response":"success","x":[[[ ... body ... ]]]}: the nesting must not change the answer.
    const std::string inner = std::string(depth, '[') + body + std::string(depth, ']');
    const bool innerIsValue = nlohmann::json::accept(inner);
    FUZZ_CHECK(bm::isSuccess(R"({"response":"success","x":)" + inner + "}") == innerIsValue);
    return 0;
  }
  const bm::Reply read = bm::readReply(body);
  const bm::Reply parsed = parsedReply(body);
  FUZZ_CHECK(read.success == parsed.success && read.info == parsed.info);
  FUZZ_CHECK(read.redirect == parsed.redirect);
  FUZZ_CHECK(bm::isSuccess(body) == read.success);
  return 0;
}
