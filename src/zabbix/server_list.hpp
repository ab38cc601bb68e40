#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bm {

// The port used when the server text names none. Not Zabbix's 10051: existing deployments
// point this agent at trappers listening on 10052, and they keep working unchanged.
inline constexpr int kDefaultPort = 10052;
// Zabbix's own port, which an address Zabbix gives without one (a redirect's) means.
inline constexpr int kZabbixPort = 10051;

// Lists longer than these are not understood: they bound what one value can cost.
inline constexpr std::size_t kMaxTargets = 32;
inline constexpr std::size_t kMaxNodes = 32;

// One address to connect to: a name or an address literal (IPv6 without brackets), and a port.
struct Endpoint {
  std::string host;
  int port = kDefaultPort;
};

// Where each value goes, once: one server or proxy, or the nodes of one HA cluster tried in
// turn. Nodes are empty when the text could not be understood; sending to it then fails.
struct Target {
  std::string text;  // as written, for the retry line
  std::vector<Endpoint> nodes;
};

// Reads the server argument the way Zabbix's ServerActive is written: targets separated by ','
// each get every value; a target's nodes separated by ';' are one cluster. A node is host,
// host:port, [IPv6], [IPv6]:port, or a bare IPv6 address (two colons or more). A text without
// ',', ';' or ':' is one host name, exactly as given, on the default port. Never fails: what it
// cannot read becomes a target without nodes.
std::vector<Target> parseServerList(std::string_view text);

// One node as parseServerList reads it, on defaultPort when the text names none; nothing when
// it cannot be read.
std::optional<Endpoint> parseEndpoint(std::string_view text, int defaultPort = kDefaultPort);

}  // namespace bm
