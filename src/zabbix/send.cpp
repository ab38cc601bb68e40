#include "zabbix/send.hpp"

#include <cerrno>
#include <ctime>

#include "base/console.hpp"
#include "base/failure.hpp"

namespace bm {
namespace {

constexpr int kAttempts = 5;
constexpr std::chrono::seconds kPause{5};

void sleepThrough(std::chrono::seconds duration) {
  struct timespec left {
    static_cast<std::time_t>(duration.count()), 0
  };
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void deliver(const ZabbixSender& zbx, const std::vector<ZabbixMetric>& metrics,
             const std::string& shown, const DeliveryOptions& options) {
  for (int i = 0; i < kAttempts; ++i) {
    try {
      zbx.send(metrics);
      return;
    } catch (...) {
      // Every kind of failure gets the same line; its text is not shown.
    }
    // The fifth failure also prints its line and pauses, like the others.
    console::line("Falha no envio ao Zabbix: " + shown + " - Tentativa número " +
                  std::to_string(i + 1) + ", tentando novamente em 5 segundos.");
    console::flush();
    if (options.pause) {
      options.pause(kPause);
    } else {
      sleepThrough(kPause);
    }
  }
}

}  // namespace

void send_zabbix(const std::string& zabbix_server, const std::string& zabbix_host,
                 const std::string& key, const MetricValue& value, const DeliveryOptions& options) {
  // Building the metric and the senders is outside the attempts: a failure there is not retried.
  std::vector<ZabbixMetric> metrics;
  metrics.emplace_back(zabbix_host, key, value);
  // Independent servers each get the value, each with attempts of its own.
  for (zabbix::Target& target : zabbix::parseServerList(zabbix_server)) {
    const std::string shown = target.text;
    const ZabbixSender zbx(std::move(target), options.timeouts);
    deliver(zbx, metrics, shown, options);
  }
}

}  // namespace bm
