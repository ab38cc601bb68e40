#include "zabbix/delivery.hpp"

#include <cerrno>
#include <ctime>
#include <optional>
#include <string_view>

#include "base/console.hpp"
#include "base/failure.hpp"
#include "base/process_values.hpp"
#include "base/system_log.hpp"
#include "zabbix/tls.hpp"

namespace bm {
namespace {

constexpr int kAttempts = 5;
constexpr std::chrono::seconds kPause{5};

// What this run's values came to, for the system log's summary.
struct RunCounts {
  std::size_t delivered = 0;
  std::size_t refused = 0;
  std::size_t givenUp = 0;
};

RunCounts& runCounts() {
  static RunCounts counts;
  return counts;
}

// "servidor S, host 'H', item 'K'": which value a system log line is about.
std::string valueNamed(const std::string& shown, const std::string& host, const std::string& key) {
  return "servidor " + shown + ", host " + quotedText(host) + ", item " + quotedText(key);
}

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
  systemlog::detail(systemlog::Severity::Warning,
                    "Zabbix recusou o valor: " + valueNamed(shown, host, key) + ": " + info);
}

void deliver(const ZabbixSender& zbx, const std::string& request, const std::string& host,
             const std::string& key, const std::string& shown, const DeliveryOptions& options) {
  for (int i = 0; i < kAttempts; ++i) {
    std::string why;
    try {
      const std::string info = zbx.send(request);
      if (refusesValues(info)) {
        ++runCounts().refused;
        reportRefused(shown, host, key, info);
      } else {
        ++runCounts().delivered;
      }
      return;
    } catch (const Failure& failure) {
      why = failure.message();
    } catch (const std::exception& e) {
      why = e.what();
    }
    // Every kind of failure gets the same console line; why goes to the system log.
    systemlog::detail(systemlog::Severity::Warning,
                      "tentativa " + std::to_string(i + 1) + " de " + std::to_string(kAttempts) +
                          " falhou: " + valueNamed(shown, host, key) + ": " + why);
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
  ++runCounts().givenUp;
  systemlog::detail(systemlog::Severity::Error, "valor não entregue após " +
                                                    std::to_string(kAttempts) +
                                                    " tentativas: " + valueNamed(shown, host, key));
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
    ZabbixSender zbx(std::move(target), options.timeouts, tls);
    zbx.carryValuesOf(zabbix_host);
    deliver(zbx, request, zabbix_host, key, shown, options);
  }
}

void logRunSummary() {
  const RunCounts& counts = runCounts();
  if (counts.delivered + counts.refused + counts.givenUp == 0) return;
  std::string text = mode() + ": " + std::to_string(counts.delivered) + " entregues, " +
                     std::to_string(counts.refused) + " recusados, " +
                     std::to_string(counts.givenUp) + " não entregues";
  if (const std::size_t omitted = systemlog::omitted(); omitted > 0) {
    text += "; mais " + std::to_string(omitted) + " linhas de detalhe omitidas";
  }
  systemlog::write(counts.refused + counts.givenUp > 0 ? systemlog::Severity::Warning
                                                       : systemlog::Severity::Info,
                   text);
}

}  // namespace bm
