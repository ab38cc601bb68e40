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

std::string valueText(MetricValue&& value) {
  if (const auto* number = std::get_if<double>(&value)) return numberText(*number);
  return std::move(std::get<std::string>(value));
}

// Within a run, the node of each cluster that last took a value: it is tried first next time.
std::map<std::string, std::size_t>& activeNodes() {
  static std::map<std::string, std::size_t> nodes;
  return nodes;
}

// A proxy group's server or proxy may send the value on to the host's proxy this many times in
// one attempt; each hop has the time-outs of a send of its own.
constexpr int kMaxRedirects = 3;

// One request and its reply over a plain connection or a TLS session.
template <typename Stream>
ServerAnswer exchange(Stream& stream, const std::string& request, Clock::time_point deadline) {
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
  std::vector<Target> targets = parseServerList(address);
  if (targets.size() != 1 || targets[0].nodes.size() != 1) return std::nullopt;
  Endpoint endpoint = targets[0].nodes[0];
  const bool portGiven = address.find("]:") != std::string::npos ||
                         std::count(address.begin(), address.end(), ':') == 1;
  if (!portGiven) endpoint.port = 10051;
  return endpoint;
}

std::string endpointText(const Endpoint& endpoint) {
  return endpoint.host + ":" + std::to_string(endpoint.port);
}

}  // namespace

// The value is moved, not copied: a discovery document may be many megabytes.
ZabbixMetric::ZabbixMetric(std::string host, std::string key, MetricValue value)
    : item_{std::move(host), std::move(key), valueText(std::move(value))} {}

ZabbixSender::ZabbixSender(std::string server, int port, SenderTimeouts timeouts,
                           const TlsContext* tls)
    : target_{server, {{server, port}}}, timeouts_(timeouts), tls_(tls) {}

ZabbixSender::ZabbixSender(Target target, SenderTimeouts timeouts, const TlsContext* tls)
    : target_(std::move(target)), timeouts_(timeouts), tls_(tls) {}

std::string ZabbixSender::request(const std::vector<ZabbixMetric>& metrics) {
  std::vector<const Item*> items;
  items.reserve(metrics.size());
  for (const ZabbixMetric& metric : metrics) items.push_back(&metric.item());
  return senderRequest(items);
}

std::string ZabbixSender::send(const std::vector<ZabbixMetric>& metrics) const {
  return send(request(metrics));
}

std::string ZabbixSender::send(const std::string& request) const {
  const std::vector<Endpoint>& nodes = target_.nodes;
  if (nodes.empty()) {
    throw Failure(FailureKind::Delivery, "servidor não entendido: " + target_.text);
  }
  if (nodes.size() == 1) return sendTo(nodes[0], request);

  // Only the active node of a cluster listens; standby nodes refuse the connection.
  std::size_t& active = activeNodes()[target_.text];
  std::string failures;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const std::size_t node = i == 0 ? active : (i <= active ? i - 1 : i);
    try {
      std::string info = sendTo(nodes[node], request);
      active = node;
      return info;
    } catch (const Failure& failure) {
      failures += (failures.empty() ? "" : "; ") + failure.message();
    }
  }
  throw Failure(FailureKind::Delivery, failures);
}

// Follows redirects (Zabbix 7.0 proxy groups) within the attempt, never twice to one address.
std::string ZabbixSender::sendTo(const Endpoint& node, const std::string& request) const {
  std::vector<std::string> visited = {endpointText(node)};
  for (Endpoint at = node;;) {
    ServerAnswer answer = exchangeWith(at, request);
    if (answer.reply.success) return std::move(answer.reply.info);
    const std::string& address = answer.reply.redirect;
    if (address.empty()) {
      throw Failure(FailureKind::Delivery, "resposta de " + answer.peer + ": " + answer.excerpt);
    }
    const std::optional<Endpoint> next = redirectEndpoint(address);
    if (!next || visited.size() > kMaxRedirects ||
        std::find(visited.begin(), visited.end(), endpointText(*next)) != visited.end()) {
      throw Failure(FailureKind::Delivery, "redirecionamento de " + answer.peer + " para " +
                                               quotedText(address) + " não seguido");
    }
    visited.push_back(endpointText(*next));
    at = *next;
  }
}

ServerAnswer ZabbixSender::exchangeWith(const Endpoint& node, const std::string& request) const {
  const Clock::time_point connected = Clock::now() + timeouts_.connect;
  Connection connection = Connection::open(node.host, node.port, connected);
  if (tls_ == nullptr) return exchange(connection, request, Clock::now() + timeouts_.reply);
  TlsSession session(*tls_, connection, connected);
  return exchange(session, request, Clock::now() + timeouts_.reply);
}

}  // namespace bm
