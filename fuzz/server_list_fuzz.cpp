// The server text on any bytes: bounded lists, every node a usable host and port, the targets'
// texts the argument cut at its commas, and a text without separators one host as it stands.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "zabbix/server_list.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto targets = bm::parseServerList(text);
  FUZZ_CHECK(!targets.empty() && targets.size() <= bm::kMaxTargets);
  std::string joined;
  for (const bm::Target& target : targets) {
    joined += (joined.empty() && &target == &targets.front() ? "" : ",") + target.text;
    FUZZ_CHECK(target.nodes.size() <= bm::kMaxNodes);
    for (const bm::Endpoint& node : target.nodes) {
      FUZZ_CHECK(!node.host.empty() && node.port >= 1 && node.port <= 65535);
      FUZZ_CHECK(text.find(node.host) != std::string_view::npos);
    }
  }
  FUZZ_CHECK(joined == text);
  if (!text.empty() && text.find_first_of(",;:") == std::string_view::npos) {
    FUZZ_CHECK(targets.size() == 1 && targets[0].nodes.size() == 1 &&
               targets[0].nodes[0].host == text && targets[0].nodes[0].port == bm::kDefaultPort);
  }
  return 0;
}
