#include "zabbix/send.hpp"

#include <cerrno>
#include <ctime>

#include "base/console.hpp"
#include "base/failure.hpp"

namespace bm {
namespace {

constexpr int kPort = 10052;
constexpr int kAttempts = 5;
constexpr std::chrono::seconds kPause{5};

void sleepThrough(std::chrono::seconds duration) {
  struct timespec left {
    static_cast<std::time_t>(duration.count()), 0
  };
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace

void send_zabbix(const std::string& zabbix_server, const std::string& zabbix_host,
                 const std::string& key, const MetricValue& value, const DeliveryOptions& options) {
  // Building the metric and the sender is outside the attempts: a failure there is not retried.
  std::vector<ZabbixMetric> metrics;
  metrics.emplace_back(zabbix_host, key, value);
  const ZabbixSender zbx(zabbix_server, kPort, options.timeouts);
  for (int i = 0; i < kAttempts; ++i) {
    try {
      zbx.send(metrics);
      return;
    } catch (...) {
      // Every kind of failure gets the same line; its text is not shown.
    }
    // The fifth failure also prints its line and pauses, like the others.
    console::line("Falha no envio ao Zabbix: " + zabbix_server + " - Tentativa número " +
                  std::to_string(i + 1) + ", tentando novamente em 5 segundos.");
    console::flush();
    if (options.pause) {
      options.pause(kPause);
    } else {
      sleepThrough(kPause);
    }
  }
}

}  // namespace bm
