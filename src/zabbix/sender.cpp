#include "zabbix/sender.hpp"

#include <algorithm>
#include <map>
#include <optional>

#include "base/failure.hpp"
#include "base/number_text.hpp"
#include "zabbix/connection.hpp"
#include "zabbix/tls.hpp"

namespace bm {
namespace {

// A proxy group's server or proxy may send the value on to the host's proxy this many times in
// one send; each hop has the time-outs of a connection of its own, within the send's.
constexpr std::size_t kMaxRedirects = 3;

// One request and its reply over a plain connection or a TLS session.
template <typename Stream>
ServerAnswer exchange(Stream& stream, const std::string& request, const Deadline& deadline) {
  stream.sendAll(request, deadline);
  ReplyReader reply(stream.peer());
  char buffer[4096];
  for (bool complete = false; !complete;) {
    const std::size_t n = stream.receiveSome(buffer, sizeof buffer, deadline);
    if (n == 0) {
      throw Failure(FailureKind::Delivery, "recv " + stream.peer() + ": conexão fechada após " +
                                               std::to_string(reply.received()) +
                                               " bytes da resposta");
    }
    complete = reply.feed(std::string_view(buffer, n));
  }
  return {reply.reply(), reply.body().substr(0, 200), stream.peer()};
}

// Where a redirect sends the value: host:port or [IPv6]:port, as Zabbix writes a proxy's address;
// Zabbix's own port when it names none.
std::optional<Endpoint> redirectEndpoint(const std::string& address) {
  // One node: no list, no cluster, and no NUL that would cut the name short.
  if (address.find_first_of(std::string_view(",;\0", 3)) != std::string::npos) return std::nullopt;
  return parseEndpoint(address, kZabbixPort);
}

std::string endpointText(const Endpoint& endpoint) {
  return endpoint.host + ":" + std::to_string(endpoint.port);
}

[[noreturn]] void notFollowed(const ServerAnswer& answer) {
  throw Failure(FailureKind::Delivery, "redirecionamento de " + answer.peer + " para " +
                                           quotedText(answer.reply.redirect) + " não seguido");
}

// The addresses not yet connected to in this send: a redirect to another spelling of an address
// already tried ("2130706433", "[::ffff:127.0.0.1]") is a circle like any other.
std::vector<SocketAddress> unvisited(std::vector<SocketAddress> addresses,
                                     const std::vector<std::string>& visited) {
  std::erase_if(addresses, [&](const SocketAddress& address) {
    return std::find(visited.begin(), visited.end(), address.identity()) != visited.end();
  });
  return addresses;
}

}  // namespace

ZabbixSender::ZabbixSender(std::string server, int port, SenderMemory& memory,
                           SenderTimeouts timeouts, const TlsContext* tls)
    : target_{server, {{server, port}}}, memory_(memory), timeouts_(timeouts), tls_(tls) {}

ZabbixSender::ZabbixSender(Target target, SenderMemory& memory, SenderTimeouts timeouts,
                           const TlsContext* tls)
    : target_(std::move(target)), memory_(memory), timeouts_(timeouts), tls_(tls) {}

std::string ZabbixSender::send(const std::vector<Item>& items) const {
  return send(senderRequest(items));
}

std::string ZabbixSender::send(const std::string& request) const {
  const Deadline end = Deadline::after(timeouts_.send, timeouts_.clock);
  const std::vector<Endpoint>& nodes = target_.nodes;
  if (nodes.empty()) {
    throw Failure(FailureKind::Delivery, "servidor não entendido: " + target_.text);
  }
  if (nodes.size() == 1) return sendTo(nodes[0], request, end);

  // Only the active node of a cluster listens; standby nodes refuse the connection at once, but
  // nodes that never answer take the send's whole time after a few of them. The next send goes on
  // from the first node this one had no time for, so every node gets its turn.
  std::size_t& first = memory_.firstNodes[target_.text];
  std::string failures;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const std::size_t node = (first + i) % nodes.size();
    if (i > 0 && end.passed()) {
      first = node;
      failures += "; tempo esgotado antes de " + endpointText(nodes[node]);
      break;
    }
    try {
      std::string info = sendTo(nodes[node], request, end);
      first = node;
      return info;
    } catch (const Failure& failure) {
      failures += (failures.empty() ? "" : "; ") + failure.message();
    }
  }
  throw Failure(FailureKind::Delivery, failures);
}

// A value goes first where the node last redirected the host's values in this run (a proxy
// group's owner, which would otherwise be asked for again by every value). When that address
// fails, or says reset, the node is asked again.
std::string ZabbixSender::sendTo(const Endpoint& node, const std::string& request,
                                 const Deadline& end) const {
  const std::string route = host_.empty() ? std::string() : endpointText(node) + '\n' + host_;
  auto& routes = memory_.routes;
  if (const auto known = routes.find(route); !route.empty() && known != routes.end()) {
    try {
      return follow(known->second, request, end, route);
    } catch (const Failure&) {
      routes.erase(route);
    }
  }
  return follow(node, request, end, route);
}

// Follows redirects (Zabbix 7.0 proxy groups) within the send, never twice to one address: a
// redirect to another spelling of an address already connected to ("2130706433",
// "[::ffff:127.0.0.1]") is a circle like any other, refused before it is connected to. The
// address that took a redirected value is remembered for the route.
std::string ZabbixSender::follow(Endpoint at, const std::string& request, const Deadline& end,
                                 const std::string& route) const {
  std::vector<std::string> visited;  // the identities of the addresses connected to
  // Each connection has its own time to be made (lookup and handshake included), within what is
  // left of the send's.
  Deadline connected = end.within(timeouts_.connect);
  std::vector<SocketAddress> addresses = resolveAddresses(at.host, at.port, connected);
  for (;;) {
    ServerAnswer answer =
        exchangeWith(addresses, endpointText(at), request, visited, connected, end);
    if (answer.reply.success) {
      if (visited.size() > 1 && !route.empty()) {
        auto& routes = memory_.routes;
        if (routes.size() >= SenderMemory::kRememberedRoutes) routes.clear();
        routes.insert_or_assign(route, at);
      }
      return std::move(answer.reply.info);
    }
    if (answer.reply.redirect.empty()) {
      throw Failure(FailureKind::Delivery, "resposta de " + answer.peer + ": " + answer.excerpt);
    }
    const std::optional<Endpoint> next = redirectEndpoint(answer.reply.redirect);
    if (!next || visited.size() > kMaxRedirects) notFollowed(answer);
    at = *next;
    connected = end.within(timeouts_.connect);
    addresses = unvisited(resolveAddresses(at.host, at.port, connected), visited);
    if (addresses.empty()) notFollowed(answer);
  }
}

ServerAnswer ZabbixSender::exchangeWith(const std::vector<SocketAddress>& addresses,
                                        const std::string& peer, const std::string& request,
                                        std::vector<std::string>& visited,
                                        const Deadline& connected, const Deadline& end) const {
  Connection connection = Connection::open(addresses, peer, connected, memory_.connected);
  visited.push_back(connection.address().identity());
  if (tls_ == nullptr) return exchange(connection, request, end.within(timeouts_.reply));
  TlsSession session(*tls_, connection, connected);
  // The reply's time starts once the connection is made, the handshake included.
  return exchange(session, request, end.within(timeouts_.reply));
}

}  // namespace bm
