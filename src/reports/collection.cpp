#include "reports/collection.hpp"

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "base/console.hpp"
#include "base/failure.hpp"
#include "base/number_text.hpp"
#include "base/process_values.hpp"
#include "catalogue/duplicates.hpp"
#include "catalogue/scan.hpp"
#include "reports/debug_header.hpp"
#include "zabbix/item_key.hpp"

namespace bm {
namespace {

double currentTime() {
  struct timespec now {};
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0) failSystem("clock_gettime", errno);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void writeNumber(double value) {
  char text[kNumberTextSize];
  console::write(std::string_view(text, writeNumberText(value, text)));
}

// HOST DATE MTIME AGE, written in pieces straight into the console's buffer.
void printEntry(std::string_view host, std::string_view date, double modified, double age) {
  writeListed(host);
  console::write(" ");
  console::write(date);
  console::write(" ");
  writeNumber(modified);
  console::write(" ");
  writeNumber(age);
  console::write("\n");
}

// By host name (in byte order), then the one modified last first, then (names kept) the name last
// in byte order: the entries are put in host order by counting, and only each host's few
// entries sorted among themselves.
std::vector<std::uint32_t> byHostNewestFirst(const Listing& listing) {
  std::vector<std::uint32_t> order =
      orderByText(listing, listing.hosts, &ListedEntry::host, TextOrder::Ascending);
  const auto newer = [&listing](std::uint32_t a, std::uint32_t b) {
    const ListedEntry& x = listing.entries[a];
    const ListedEntry& y = listing.entries[b];
    if (x.modified != y.modified) return x.modified > y.modified;
    return listing.keepsNames && listing.names[x.name] > listing.names[y.name];
  };
  for (auto run = order.begin(); run != order.end();) {
    const std::uint32_t host = listing.entries[*run].host;
    const auto end = std::find_if(run, order.end(), [&listing, host](std::uint32_t i) {
      return listing.entries[i].host != host;
    });
    std::stable_sort(run, end, newer);
    run = end;
  }
  return order;
}

void deliverAge(Delivery& delivery, const std::string& zabbix_server,
                const std::string& zabbix_host, std::string_view nomeHost, double age) {
  // The key the server made from the discovered name, quoted where it quotes it.
  const std::string key = "ultimaModificacao[" + itemKeyParameter(nomeHost) + "]";
  delivery.send_zabbix(zabbix_server, zabbix_host, key, age);
}

}  // namespace

std::vector<std::uint32_t> collectionChoice(const Listing& listing, SystemLog* log) {
  if (listing.scheme == NamingScheme::ModificationTime) return listingOrder(listing);
  // Within a host, the tie's winner comes first: the duplicate removal keeps the first of a date.
  return removerHostsDuplicados(listing, byHostNewestFirst(listing), log);
}

std::vector<BackupEntry> collectionList(ScanResult scan, double now, SystemLog* log) {
  for (BackupEntry& entry : scan.entries) entry.tempoModificacao = now - entry.dataModificacao;
  const Listing listing = listingOf(scan);
  return chosenEntries(scan.entries, listing, collectionChoice(listing, log));
}

void deliverAges(Delivery& delivery, const std::vector<BackupEntry>& descoberta,
                 const std::string& zabbix_server, const std::string& zabbix_host) {
  for (const BackupEntry& entry : descoberta) {
    deliverAge(delivery, zabbix_server, zabbix_host, entry.nomeHost, entry.tempoModificacao);
  }
  delivery.flush();
}

void coletarData(const std::string& caminho, SystemLog& log) {
  // One instant for the whole run, read before the directory is listed.
  const double now = currentTime();
  const Listing listing = listBackupDirectory(caminho, ScanReads::Times, &log);
  const std::vector<std::uint32_t> descoberta = collectionChoice(listing, &log);
  noteNamesDatedAfterToday(listing, descoberta, static_cast<std::time_t>(now), log);
  if (zabbix_host() == "debug") {
    printDebugHeader();
    for (const std::uint32_t i : descoberta) {
      const ListedEntry& entry = listing.entries[i];
      printEntry(listing.hosts[entry.host], listing.shownDate(entry), entry.modified,
                 now - entry.modified);
    }
    console::endProcess(0);
  }
  Delivery delivery(log, mode());
  // A directory without a single backup (an unmounted share, a job writing elsewhere) says so,
  // instead of the silence of a collection that stopped.
  if (descoberta.empty()) {
    delivery.send_zabbix(zabbix_server(), zabbix_host(), "equipamentosNoDiretorio",
                         std::string("0"));
  }
  for (const std::uint32_t i : descoberta) {
    const ListedEntry& entry = listing.entries[i];
    deliverAge(delivery, zabbix_server(), zabbix_host(), listing.hosts[entry.host],
               now - entry.modified);
  }
  delivery.flush();
  console::endProcess(0);
}

}  // namespace bm
