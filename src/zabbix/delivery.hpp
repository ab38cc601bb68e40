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
  // Values per request; 0: as BACKUP_MONITOR_BATCH says, one value per request without it.
  std::size_t batch = 0;
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
  // With batching (BACKUP_MONITOR_BATCH=N), the value is stamped with the time now and joins
  // the values waiting for the next request, which goes once N wait, or at flush(): one request
  // is one send, with the attempts above. An unreadable BACKUP_MONITOR_BATCH fails with
  // Configuration before anything is sent.
  void send_zabbix(const std::string& zabbix_server, const std::string& zabbix_host,
                   const std::string& key, MetricValue value);
  // Sends the values still waiting; a report calls it once it has handed over its last value.
  // Then, if more requests were refused than the console shows lines for, one line counts the
  // values refused in all.
  void flush();

  // Refusal lines a run prints on the console: a host name mistyped for a whole fleet must not
  // mail one line per device every run.
  static constexpr std::size_t kRefusalLines = 20;

  // What one request carries, for the lines that name it.
  struct Carried {
    std::string host;
    std::string firstKey;
    std::string lastKey;
    std::size_t values;
  };

 private:
  // What this run's values came to, for the summary.
  struct Counts {
    std::size_t delivered = 0;
    std::size_t refused = 0;
    std::size_t givenUp = 0;
    std::size_t refusalLines = 0;  // refused requests, each worth a console line
  };

  // A reply that says success without counting: taken, and said in the log only.
  void noteUncounted(const std::string& shown, const Carried& carried, const std::string& info);
  // The encryption, loaded from the environment on the first send that needs it.
  const TlsContext* tls();
  // Values per request, read on the first send; 0 without batching.
  std::size_t batchSize();
  void sendPending();
  void deliverNow(const std::string& zabbix_server, std::vector<Item> items);
  void deliver(const ZabbixSender& zbx, const std::string& request, const Carried& carried,
               const std::string& shown);
  void reportRefused(const std::string& shown, const Carried& carried, std::size_t refused,
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
  std::optional<std::size_t> batch_;
  std::vector<Item> pending_;
  std::string pendingServer_;
};

}  // namespace bm
