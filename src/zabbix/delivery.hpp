#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/system_log.hpp"
#include "zabbix/sender.hpp"

namespace bm {

// How send_zabbix waits and how long each attempt may take; tests shorten both.
struct DeliveryOptions {
  std::function<void(std::chrono::seconds)> pause;  // empty: really sleep
  SenderTimeouts timeouts;
  // The encryption to use; null: as the environment's ZBX_TLS* variables say.
  const TlsContext* tls = nullptr;
};

// One report's delivery, made where the report starts and passed to what sends: it owns all
// that lasts the run (the encryption, what the senders learn about nodes, routes and addresses,
// the counts of what came of the values) and, when it goes, writes the run's summary to the
// system log.
class Delivery {
 public:
  // mode names the run in the summary.
  Delivery(SystemLog& log, std::string mode, DeliveryOptions options = {});
  ~Delivery();
  Delivery(const Delivery&) = delete;
  Delivery& operator=(const Delivery&) = delete;

  // Delivers one value for one item to each server of the server text (port 10052 unless the
  // text names another) in up to five attempts per server. After each failed attempt, the fifth
  // included, it prints the retry line naming that server as written and pauses 5 seconds; then
  // it gives up on that server without telling the caller. Nothing is printed on success.
  void send_zabbix(const std::string& zabbix_server, const std::string& zabbix_host,
                   const std::string& key, MetricValue value);

  SystemLog& log() { return log_; }

 private:
  // What this run's values came to, for the summary.
  struct Counts {
    std::size_t delivered = 0;
    std::size_t refused = 0;
    std::size_t givenUp = 0;
  };

  // The encryption, loaded from the environment on the first send that needs it.
  const TlsContext* tls();
  void deliver(const ZabbixSender& zbx, const std::string& request, const std::string& host,
               const std::string& key, const std::string& shown);
  void reportRefused(const std::string& shown, const std::string& host, const std::string& key,
                     const std::string& info);
  void pause();
  // One line at the end of a run that delivered: values delivered, refused and given up, and how
  // many detail lines were left out.
  void writeSummary();

  SystemLog& log_;
  std::string mode_;
  DeliveryOptions options_;
  std::optional<std::unique_ptr<const TlsContext>> environmentTls_;
  SenderMemory memory_;
  Counts counts_;
};

}  // namespace bm
