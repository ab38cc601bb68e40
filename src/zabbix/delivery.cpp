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

}  // namespace

Delivery::Delivery(SystemLog& log, std::string mode, DeliveryOptions options)
    : log_(log), mode_(std::move(mode)), options_(std::move(options)) {}

Delivery::~Delivery() {
  try {
    writeSummary();
  } catch (...) {
    // A summary that cannot be written (memory gone) is a lost log line, not a second failure.
  }
}

const TlsContext* Delivery::tls() {
  if (options_.tls != nullptr) return options_.tls;
  if (!environmentTls_) environmentTls_ = loadEnvironmentTls();
  return environmentTls_->get();
}

// Says that the server took the request but refused the value. The unknown host, the item that
// does not exist yet, the host that accepts only encrypted connections are told apart by nobody
// but the operator: no retry can mend them.
void Delivery::reportRefused(const std::string& shown, const std::string& host,
                             const std::string& key, const std::string& info) {
  console::line("Zabbix recusou o valor: " + shown + " - host " + quotedText(host) + ", item " +
                quotedText(key) + ": " + visibleText(info));
  console::flush();
  log_.detail(SystemLog::Severity::Warning,
              "Zabbix recusou o valor: " + valueNamed(shown, host, key) + ": " + info);
}

void Delivery::pause() {
  if (options_.pause) {
    options_.pause(kPause);
  } else {
    sleepThrough(kPause);
  }
}

void Delivery::deliver(const ZabbixSender& zbx, const std::string& request, const std::string& host,
                       const std::string& key, const std::string& shown) {
  for (int i = 0; i < kAttempts; ++i) {
    std::string why;
    try {
      const std::string info = zbx.send(request);
      if (refusesValues(info)) {
        ++counts_.refused;
        reportRefused(shown, host, key, info);
      } else {
        ++counts_.delivered;
      }
      return;
    } catch (const Failure& failure) {
      why = failure.message();
    } catch (const std::exception& e) {
      why = e.what();
    }
    // Every kind of failure gets the same console line; why goes to the system log.
    log_.detail(SystemLog::Severity::Warning,
                "tentativa " + std::to_string(i + 1) + " de " + std::to_string(kAttempts) +
                    " falhou: " + valueNamed(shown, host, key) + ": " + why);
    // The fifth failure also prints its line and pauses, like the others.
    console::line("Falha no envio ao Zabbix: " + shown + " - Tentativa número " +
                  std::to_string(i + 1) + ", tentando novamente em 5 segundos.");
    console::flush();
    pause();
  }
  ++counts_.givenUp;
  log_.detail(SystemLog::Severity::Error, "valor não entregue após " + std::to_string(kAttempts) +
                                              " tentativas: " + valueNamed(shown, host, key));
}

void Delivery::send_zabbix(const std::string& zabbix_server, const std::string& zabbix_host,
                           const std::string& key, MetricValue value) {
  // The item, its request, the encryption and the senders are built once, outside the
  // attempts: a failure there (a key file that cannot be read, memory running out) ends the run
  // with a failure report before anything is sent, instead of reading as failed sends.
  const TlsContext* encryption = tls();
  std::vector<Item> items;
  items.push_back(makeItem(zabbix_host, key, std::move(value)));
  const std::string request = senderRequest(items);
  // The item goes once its request is built, so that a large value is held once.
  std::vector<Item>().swap(items);
  // Independent servers each get the value, each with attempts of its own.
  for (Target& target : parseServerList(zabbix_server)) {
    const std::string shown = target.text;
    ZabbixSender zbx(std::move(target), memory_, options_.timeouts, encryption);
    zbx.carryValuesOf(zabbix_host);
    deliver(zbx, request, zabbix_host, key, shown);
  }
}

void Delivery::writeSummary() {
  const Counts& counts = counts_;
  if (counts.delivered + counts.refused + counts.givenUp == 0) return;
  std::string text = mode_ + ": " + std::to_string(counts.delivered) + " entregues, " +
                     std::to_string(counts.refused) + " recusados, " +
                     std::to_string(counts.givenUp) + " não entregues";
  if (const std::size_t omitted = log_.omitted(); omitted > 0) {
    text += "; mais " + std::to_string(omitted) + " linhas de detalhe omitidas";
  }
  log_.write(counts.refused + counts.givenUp > 0 ? SystemLog::Severity::Warning
                                                 : SystemLog::Severity::Info,
             text);
}

}  // namespace bm
