#include "zabbix/delivery.hpp"

#include <cerrno>
#include <ctime>
#include <optional>
#include <string_view>

#include "base/console.hpp"
#include "base/failure.hpp"
#include "zabbix/tls.hpp"

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

// Whether the server's "info" leaves the value refused or in doubt. Zabbix writes "processed: N;
// failed: M; total: T; seconds spent: S", M counting the values it refused; a text of any other
// form counts nothing, so it does not say that the value was taken either.
bool refusesValues(std::string_view info) {
  const auto count = [&](std::string_view label) -> std::optional<std::string_view> {
    if (!info.starts_with(label)) return std::nullopt;
    info.remove_prefix(label.size());
    const std::size_t digits = std::min(info.find_first_not_of("0123456789"), info.size());
    if (digits == 0) return std::nullopt;
    const std::string_view number = info.substr(0, digits);
    info.remove_prefix(digits);
    return number;
  };
  const auto processed = count("processed: ");
  const auto failed = processed ? count("; failed: ") : std::nullopt;
  const auto total = failed ? count("; total: ") : std::nullopt;
  return !total || failed->find_first_not_of('0') != std::string_view::npos;
}

// Says that the server took the request but refused the value. The unknown host, the item that
// does not exist yet, the host that accepts only encrypted connections are told apart by nobody
// but the operator: no retry can mend them.
void reportRefused(const std::string& shown, const std::string& host, const std::string& key,
                   const std::string& info) {
  console::line("Zabbix recusou o valor: " + shown + " - host " + quotedText(host) + ", item " +
                quotedText(key) + ": " + visibleText(info));
  console::flush();
}

void deliver(const ZabbixSender& zbx, const std::string& request, const std::string& host,
             const std::string& key, const std::string& shown, const DeliveryOptions& options) {
  for (int i = 0; i < kAttempts; ++i) {
    try {
      const std::string info = zbx.send(request);
      if (refusesValues(info)) reportRefused(shown, host, key, info);
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
                 const std::string& key, MetricValue value, const DeliveryOptions& options) {
  // The item, its request, the encryption and the senders are built once, outside the
  // attempts: a failure there (a key file that cannot be read, memory running out) ends the run
  // with a failure report before anything is sent, instead of reading as failed sends.
  const TlsContext* tls = options.tls != nullptr ? options.tls : environmentTls();
  std::vector<Item> items;
  items.push_back(makeItem(zabbix_host, key, std::move(value)));
  const std::string request = senderRequest(items);
  // The item goes once its request is built, so that a large value is held once.
  std::vector<Item>().swap(items);
  // Independent servers each get the value, each with attempts of its own.
  for (Target& target : parseServerList(zabbix_server)) {
    const std::string shown = target.text;
    const ZabbixSender zbx(std::move(target), options.timeouts, tls);
    deliver(zbx, request, zabbix_host, key, shown, options);
  }
}

}  // namespace bm
