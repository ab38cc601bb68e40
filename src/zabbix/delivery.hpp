#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "zabbix/sender.hpp"

namespace bm {

// How send_zabbix waits and how long each attempt may take; tests shorten both.
struct DeliveryOptions {
  std::function<void(std::chrono::seconds)> pause;  // empty: really sleep
  SenderTimeouts timeouts;
  // The encryption to use; null: as the environment's ZBX_TLS* variables say.
  const TlsContext* tls = nullptr;
};

// Delivers one value for one item to each server of the server text (port 10052 unless the text
// names another) in up to five attempts per server. After each failed attempt, the fifth
// included, it prints the retry line naming that server as written and pauses 5 seconds; then it
// gives up on that server without telling the caller. Nothing is printed on success.
void send_zabbix(const std::string& zabbix_server, const std::string& zabbix_host,
                 const std::string& key, MetricValue value, const DeliveryOptions& options = {});

// One line for the system log at the end of a run that delivered: values delivered, refused and
// given up, and how many detail lines were left out.
void logRunSummary();

}  // namespace bm
