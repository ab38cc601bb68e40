// The reply's JSON read in one pass agrees with a parsed document on every body: the same
// grammar, the same top-level "response". The first byte may wrap the body in nesting thousands
// of levels deep, which the one-pass reader must take in its stride.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz_check.hpp"
#include "zabbix/protocol.hpp"

namespace {

bool parsedIsSuccess(const std::string& body) {
  const nlohmann::json reply = nlohmann::json::parse(body, nullptr, false);
  if (!reply.is_object()) return false;
  const auto response = reply.find("response");
  return response != reply.end() && *response == "success";
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
    FUZZ_CHECK(bm::zabbix::isSuccess(R"({"response":"success","x":)" + inner + "}") ==
               innerIsValue);
    return 0;
  }
  FUZZ_CHECK(bm::zabbix::isSuccess(body) == parsedIsSuccess(body));
  return 0;
}
