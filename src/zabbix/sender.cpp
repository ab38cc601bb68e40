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
  for (const ZabbixMetric& metric : metrics) items.push_back(metric.item());
  const std::string request = zabbix::senderRequest(items);

  using zabbix::Clock;
  zabbix::Connection connection =
      zabbix::Connection::open(server_, port_, Clock::now() + timeouts_.connect);
  const Clock::time_point deadline = Clock::now() + timeouts_.reply;
  connection.sendAll(request, deadline);
  const std::string header = connection.receiveExactly(zabbix::kHeaderSize, deadline, true);
  const std::uint32_t length = zabbix::replyLength(header, connection.peer());
  const std::string body = connection.receiveExactly(length, deadline);
  if (!zabbix::isSuccess(body)) {
    throw Failure(FailureKind::Delivery, "resposta de " + connection.peer() + ": " +
                                             body.substr(0, 200));
  }
}

}  // namespace bm
