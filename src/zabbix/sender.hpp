#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "base/deadline.hpp"
#include "zabbix/connection.hpp"
#include "zabbix/protocol.hpp"
#include "zabbix/server_list.hpp"

namespace bm {

class TlsContext;

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
  Deadline::Now clock = &Clock::now;         // what all three are measured on
};

// What a run's sends learn for the ones after them: where each cluster's next send starts (the
// node that last took a value, or the first the last send had no time left for), where a node
// last redirected a host's values, and which address of each peer connected.
struct SenderMemory {
  // Redirects come from servers, which could invent addresses without end: past this many
  // routes the memory of them starts over.
  static constexpr std::size_t kRememberedRoutes = 1024;

  std::map<std::string, std::size_t> firstNodes;  // by the target's text
  std::map<std::string, Endpoint> routes;         // by "node\nhost"
  ConnectedAddresses connected;
};

// A client of the Zabbix sender protocol bound to one server and port, or to the nodes of one
// HA cluster.
class ZabbixSender {
 public:
  // With a TLS context, every connection is encrypted with it; without one, plain. What the
  // sends learn goes to memory, which the run keeps for the senders after this one.
  ZabbixSender(std::string server, int port, SenderMemory& memory, SenderTimeouts timeouts = {},
               const TlsContext* tls = nullptr);
  // Nodes are tried in turn, from the one that last took a value in this run, or from the first
  // that the last send had no time left for; a target without nodes (a server text that could not
  // be read) fails every send.
  ZabbixSender(Target target, SenderMemory& memory, SenderTimeouts timeouts = {},
               const TlsContext* tls = nullptr);

  // One connection, one request with every item, one reply. Completes when the server answers
  // "success", and gives the reply's "info" text ("processed: 1; failed: 0; ..."), which may
  // say that values were refused; anything else (no connection, time-out, bad framing,
  // "failed") fails with Delivery. With several nodes, it fails only when every node failed.
  std::string send(const std::vector<Item>& items) const;
  // The same with the request already built (senderRequest()), so that retries do not build it
  // again.
  std::string send(const std::string& request) const;

  // The monitored host whose values this sender carries. Where a node redirected them (a proxy
  // group's owner), the next values of the run go first, until that address fails or answers
  // that the group has no owner for the host any more (reset).
  void carryValuesOf(std::string host) { host_ = std::move(host); }

 private:
  std::string sendTo(const Endpoint& node, const std::string& request, const Deadline& end) const;
  std::string follow(Endpoint at, const std::string& request, const Deadline& end,
                     const std::string& route) const;
  // One request over a new connection to one of addresses, whose identity joins visited.
  ServerAnswer exchangeWith(const std::vector<SocketAddress>& addresses, const std::string& peer,
                            const std::string& request, std::vector<std::string>& visited,
                            const Deadline& connected, const Deadline& end) const;

  Target target_;
  SenderMemory& memory_;
  SenderTimeouts timeouts_;
  const TlsContext* tls_;
  std::string host_;
};

}  // namespace bm
