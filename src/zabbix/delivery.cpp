#include "zabbix/delivery.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string_view>

#include "base/console.hpp"
#include "base/failure.hpp"
#include "base/number_text.hpp"
#include "zabbix/tls.hpp"

namespace bm {
namespace {

constexpr int kAttempts = 5;
constexpr std::chrono::seconds kPause{5};

// The most values one request may carry, as BACKUP_MONITOR_BATCH says.
constexpr int kMaxBatch = 10000;

// "servidor S, host 'H', item 'K'", or for a request of several values "servidor S, host 'H',
// itens 'K1' a 'Kn' (N valores)": what a system log line is about.
std::string valuesNamed(const std::string& shown, const Delivery::Carried& carried) {
  std::string text = "servidor " + shown + ", host " + quotedText(carried.host);
  if (carried.values == 1) return text + ", item " + quotedText(carried.firstKey);
  return text + ", itens " + quotedText(carried.firstKey) + " a " + quotedText(carried.lastKey) +
         " (" + std::to_string(carried.values) + " valores)";
}

void sleepThrough(std::chrono::seconds duration) {
  struct timespec left {
    static_cast<std::time_t>(duration.count()), 0
  };
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// How many values the server's "info" says it refused. Zabbix writes "processed: N; failed: M;
// total: T; seconds spent: S", M counting the values it refused; a text of any other form counts
// nothing: nothing then.
std::optional<std::size_t> refusedCount(std::string_view info) {
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
  if (!total) return std::nullopt;
  std::size_t refused = 0;
  for (const char digit : *failed) {
    refused = std::min<std::size_t>(refused * 10 + static_cast<std::size_t>(digit - '0'), 1u << 30);
  }
  return refused;
}

// A whole number from 1 to kMaxBatch, digits only.
std::size_t readBatchSize(const char* text) {
  const std::optional<int> size = decimalInRange(text, 1, kMaxBatch);
  if (!size) {
    throw Failure(FailureKind::Configuration, "BACKUP_MONITOR_BATCH: valor " + quotedText(text) +
                                                  " inválido; use um número inteiro de 1 a " +
                                                  std::to_string(kMaxBatch));
  }
  return static_cast<std::size_t>(*size);
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

std::size_t Delivery::batchSize() {
  if (!batch_) {
    // An empty variable is an unset one, as with Zabbix's own.
    const char* text = options_.batch > 0 ? nullptr : std::getenv("BACKUP_MONITOR_BATCH");
    batch_ = text != nullptr && *text != '\0' ? readBatchSize(text) : options_.batch;
  }
  return *batch_;
}

// Says that the server took the request but refused values. The unknown host, the item that
// does not exist yet, the host that accepts only encrypted connections are told apart by nobody
// but the operator: no retry can mend them, and a retry would store twice the values that were
// taken. Zabbix does not say which values of a request it refused.
void Delivery::reportRefused(const std::string& shown, const Carried& carried, std::size_t refused,
                             const std::string& info) {
  const std::string what = carried.values == 1
                               ? "Zabbix recusou o valor"
                               : "Zabbix recusou " + std::to_string(refused) + " de " +
                                     std::to_string(carried.values) + " valores";
  std::string line = what + ": " + shown + " - host " + quotedText(carried.host);
  line += carried.values == 1
              ? ", item " + quotedText(carried.firstKey)
              : ", itens " + quotedText(carried.firstKey) + " a " + quotedText(carried.lastKey);
  if (++counts_.refusalLines <= kRefusalLines) {
    console::line(line + ": " + visibleText(info));
    console::flush();
  }
  log_.detail(SystemLog::Severity::Warning,
              what + ": " + valuesNamed(shown, carried) + ": " + info +
                  (carried.values == 1 ? "" : "; o servidor não diz quais"));
}

// The reply said success but counted nothing: the values count as taken, since the server did
// not say otherwise, and nothing reaches the console.
void Delivery::noteUncounted(const std::string& shown, const Carried& carried,
                             const std::string& info) {
  log_.detail(SystemLog::Severity::Notice, "Zabbix aceitou sem dizer quantos valores processou: " +
                                               valuesNamed(shown, carried) + ": " + info);
}

void Delivery::pause() {
  if (options_.pause) {
    options_.pause(kPause);
  } else {
    sleepThrough(kPause);
  }
}

void Delivery::deliver(const ZabbixSender& zbx, const std::string& request, const Carried& carried,
                       const std::string& shown) {
  for (int i = 0; i < kAttempts; ++i) {
    std::string why;
    try {
      const std::string info = zbx.send(request);
      const std::optional<std::size_t> refused = refusedCount(info);
      if (!refused) noteUncounted(shown, carried, info);
      const std::size_t counted = refused ? std::min(*refused, carried.values) : 0;
      counts_.refused += counted;
      counts_.delivered += carried.values - counted;
      if (counted > 0) reportRefused(shown, carried, *refused, info);
      return;
    } catch (const Failure& failure) {
      why = failure.message();
    } catch (const std::exception& e) {
      why = e.what();
    }
    // Every kind of failure gets the same console line; why goes to the system log.
    log_.detail(SystemLog::Severity::Warning,
                "tentativa " + std::to_string(i + 1) + " de " + std::to_string(kAttempts) +
                    " falhou: " + valuesNamed(shown, carried) + ": " + why);
    // The fifth failure also prints its line and pauses, like the others.
    console::line("Falha no envio ao Zabbix: " + shown + " - Tentativa número " +
                  std::to_string(i + 1) + ", tentando novamente em 5 segundos.");
    console::flush();
    pause();
  }
  counts_.givenUp += carried.values;
  log_.detail(SystemLog::Severity::Error,
              std::string(carried.values == 1 ? "valor não entregue" : "valores não entregues") +
                  " após " + std::to_string(kAttempts) +
                  " tentativas: " + valuesNamed(shown, carried));
}

void Delivery::send_zabbix(const std::string& zabbix_server, const std::string& zabbix_host,
                           const std::string& key, MetricValue value) {
  const std::size_t batch = batchSize();
  if (batch == 0) {
    std::vector<Item> items;
    items.push_back(makeItem(zabbix_host, key, std::move(value)));
    deliverNow(zabbix_server, std::move(items));
    return;
  }
  // Stamped now: a request retried later still puts the value where it was taken.
  Item item = makeItem(zabbix_host, key, std::move(value));
  item.clock = clockNow();
  if (!pending_.empty() &&
      (zabbix_server != pendingServer_ || zabbix_host != pending_.front().host)) {
    sendPending();
  }
  if (pending_.empty()) pendingServer_ = zabbix_server;
  pending_.push_back(std::move(item));
  if (pending_.size() >= batch) sendPending();
}

void Delivery::flush() {
  sendPending();
  if (counts_.refusalLines > kRefusalLines) {
    console::line(
        "Zabbix recusou " + std::to_string(counts_.refused) + " valores nesta execução; mais " +
        std::to_string(counts_.refusalLines - kRefusalLines) + " linhas de recusa omitidas");
    console::flush();
    counts_.refusalLines = kRefusalLines;  // said once
  }
}

void Delivery::sendPending() {
  if (pending_.empty()) return;
  std::vector<Item> items;
  items.swap(pending_);
  deliverNow(pendingServer_, std::move(items));
}

void Delivery::deliverNow(const std::string& zabbix_server, std::vector<Item> items) {
  // The request, the encryption and the senders are built once, outside the attempts: a failure
  // there (a key file that cannot be read, memory running out) ends the run with a failure
  // report before anything is sent, instead of reading as failed sends.
  const TlsContext* encryption = tls();
  const Carried carried{items.front().host, items.front().key, items.back().key, items.size()};
  const std::string request = senderRequest(items);
  // The items go once their request is built, so that a large value is held once.
  std::vector<Item>().swap(items);
  // Independent servers each get the values, each with attempts of its own.
  for (Target& target : parseServerList(zabbix_server)) {
    const std::string shown = target.text;
    ZabbixSender zbx(std::move(target), memory_, options_.timeouts, encryption);
    zbx.carryValuesOf(carried.host);
    deliver(zbx, request, carried, shown);
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
