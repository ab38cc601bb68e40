#pragma once

#include <chrono>
#include <string>
#include <variant>
#include <vector>

#include "zabbix/protocol.hpp"
#include "zabbix/resolver.hpp"
#include "zabbix/server_list.hpp"

namespace bm {

class TlsContext;

// A value as a report hands it over: the discovery document, or an age in seconds.
using MetricValue = std::variant<std::string, double>;

// One value addressed to Zabbix: the monitored host, the item key and the value. A number goes
// as its shortest round-trip text ("86400.5", "1e+16").
class ZabbixMetric {
 public:
  ZabbixMetric(std::string host, std::string key, MetricValue value);
  const Item& item() const { return item_; }

 private:
  Item item_;
};

// A server's answer to one request: what it said, the start of its body, and who said it.
struct ServerAnswer {
  Reply reply;
  std::string excerpt;
  std::string peer;
};

// How long a send may wait: a server that never answers costs one failed attempt, never a hang.
// Each connection (to a node of a cluster, to a redirect's address) has the first two, and the
// whole send, with every name lookup, node and hop, ends by the third whatever the peers do.
struct SenderTimeouts {
  std::chrono::milliseconds connect{10000};  // to have a connection: lookup and handshake included
  std::chrono::milliseconds reply{30000};    // from then on, to have the whole reply
  std::chrono::milliseconds send{40000};     // for the whole send
};

// A client of the Zabbix sender protocol bound to one server and port, or to the nodes of one
// HA cluster.
class ZabbixSender {
 public:
  // With a TLS context, every connection is encrypted with it; without one, plain.
  ZabbixSender(std::string server, int port, SenderTimeouts timeouts = {},
               const TlsContext* tls = nullptr);
  // Nodes are tried in turn, from the one that last took a value in this run, or from the first
  // that the last send had no time left for; a target without nodes (a server text that could not
  // be read) fails every send.
  explicit ZabbixSender(Target target, SenderTimeouts timeouts = {},
                        const TlsContext* tls = nullptr);

  // One connection, one request with every metric, one reply. Completes when the server answers
  // "success", and gives the reply's "info" text ("processed: 1; failed: 0; ..."), which may
  // say that values were refused; anything else (no connection, time-out, bad framing,
  // "failed") fails with Delivery. With several nodes, it fails only when every node failed.
  std::string send(const std::vector<ZabbixMetric>& metrics) const;
  // The same with the request already built (request()), so that retries do not build it again.
  std::string send(const std::string& request) const;
  static std::string request(const std::vector<ZabbixMetric>& metrics);

 private:
  std::string sendTo(const Endpoint& node, const std::string& request, Clock::time_point end) const;
  Clock::time_point connectBy(Clock::time_point end) const;
  // One request over a new connection to one of addresses, whose identity joins visited.
  ServerAnswer exchangeWith(const std::vector<SocketAddress>& addresses, const std::string& peer,
                            const std::string& request, std::vector<std::string>& visited,
                            Clock::time_point connected, Clock::time_point end) const;

  Target target_;
  SenderTimeouts timeouts_;
  const TlsContext* tls_;
};

}  // namespace bm
