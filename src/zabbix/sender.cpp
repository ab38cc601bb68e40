#include "zabbix/sender.hpp"

#include "base/failure.hpp"
#include "base/number_text.hpp"
#include "zabbix/connection.hpp"

namespace bm {
namespace {

std::string valueText(const MetricValue& value) {
  if (const auto* number = std::get_if<double>(&value)) return numberText(*number);
  return std::get<std::string>(value);
}

}  // namespace

ZabbixMetric::ZabbixMetric(std::string host, std::string key, const MetricValue& value)
    : item_{std::move(host), std::move(key), valueText(value)} {}

ZabbixSender::ZabbixSender(std::string server, int port, SenderTimeouts timeouts)
    : server_(std::move(server)), port_(port), timeouts_(timeouts) {}

void ZabbixSender::send(const std::vector<ZabbixMetric>& metrics) const {
  std::vector<zabbix::Item> items;
  items.reserve(metrics.size());
  for (const ZabbixMetric& metric : metrics) items.push_back(metric.item());
  const std::string request = zabbix::senderRequest(items);

  using zabbix::Clock;
  zabbix::Connection connection =
      zabbix::Connection::open(server_, port_, Clock::now() + timeouts_.connect);
  const Clock::time_point deadline = Clock::now() + timeouts_.reply;
  connection.sendAll(request, deadline);
  zabbix::ReplyReader reply(connection.peer());
  char buffer[4096];
  for (bool complete = false; !complete;) {
    const std::size_t n = connection.receiveSome(buffer, sizeof buffer, deadline);
    if (n == 0) {
      throw Failure(FailureKind::Delivery, "recv " + connection.peer() + ": conexão fechada após " +
                                               std::to_string(reply.received()) +
                                               " bytes da resposta");
    }
    complete = reply.feed(std::string_view(buffer, n));
  }
  if (!reply.success()) {
    throw Failure(FailureKind::Delivery,
                  "resposta de " + connection.peer() + ": " + reply.body().substr(0, 200));
  }
}

}  // namespace bm
