#include "zabbix/server_list.hpp"

#include <algorithm>
#include <optional>

#include "base/number_text.hpp"

namespace bm {
namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

// 1 to 65535 in decimal digits only: no sign, no blank, nothing after.
std::optional<int> parsePort(std::string_view text) { return decimalInRange(text, 1, 65535); }

// [IPv6] or [IPv6]:port. Brackets hold an IPv6 address, so at least one colon.
std::optional<Endpoint> parseBracketed(std::string_view text, int defaultPort) {
  const std::size_t close = text.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  const std::string_view address = text.substr(1, close - 1);
  if (address.find(':') == std::string_view::npos ||
      address.find_first_of("[]") != std::string_view::npos) {
    return std::nullopt;
  }
  const std::string_view rest = text.substr(close + 1);
  if (rest.empty()) return Endpoint{std::string(address), defaultPort};
  if (rest[0] != ':') return std::nullopt;
  const std::optional<int> port = parsePort(rest.substr(1));
  if (!port) return std::nullopt;
  return Endpoint{std::string(address), *port};
}

Target parseTarget(std::string_view text) {
  Target target{std::string(text), {}};
  const std::vector<std::string_view> nodes = split(text, ';');
  if (nodes.size() > kMaxNodes) return target;
  for (const std::string_view node : nodes) {
    std::optional<Endpoint> endpoint = parseEndpoint(node);
    // One node that cannot be read spoils its cluster: the operator meant something else.
    if (!endpoint) return Target{std::string(text), {}};
    target.nodes.push_back(std::move(*endpoint));
  }
  return target;
}

}  // namespace

std::optional<Endpoint> parseEndpoint(std::string_view text, int defaultPort) {
  if (text.empty()) return std::nullopt;
  if (text[0] == '[' && text.find(':') != std::string_view::npos)
    return parseBracketed(text, defaultPort);
  const std::size_t colons = static_cast<std::size_t>(std::count(text.begin(), text.end(), ':'));
  if (colons != 1) return Endpoint{std::string(text), defaultPort};
  const std::size_t colon = text.find(':');
  const std::optional<int> port = parsePort(text.substr(colon + 1));
  if (colon == 0 || !port) return std::nullopt;
  return Endpoint{std::string(text.substr(0, colon)), *port};
}

std::vector<Target> parseServerList(std::string_view text) {
  const std::vector<std::string_view> targets = split(text, ',');
  if (targets.size() == 1) return {parseTarget(text)};
  if (targets.size() > kMaxTargets) return {Target{std::string(text), {}}};
  std::vector<Target> out;
  out.reserve(targets.size());
  for (const std::string_view target : targets) out.push_back(parseTarget(target));
  return out;
}

}  // namespace bm
