#include "reports/discovery.hpp"

#include <ctime>

#include "base/console.hpp"
#include "base/failure.hpp"
#include "base/process_values.hpp"
#include "catalogue/duplicates.hpp"
#include "catalogue/scan.hpp"
#include "reports/debug_header.hpp"
#include "reports/discovery_document.hpp"
#include "zabbix/delivery.hpp"

namespace bm {

std::vector<std::uint32_t> discoveryChoice(const Listing& listing, SystemLog* log) {
  if (listing.scheme == NamingScheme::ModificationTime) return listingOrder(listing);
  // Newest date text first: the text, not the day, so an unpadded date sorts by its characters.
  std::vector<std::uint32_t> chosen = removerHostsDuplicados(
      listing, orderByText(listing, listing.dates, &ListedEntry::date, TextOrder::GreatestFirst),
      log);
  if (log != nullptr) noteNamesDatedAfterToday(listing, chosen, std::time(nullptr), *log);
  return chosen;
}

std::vector<BackupEntry> discoveryList(const ScanResult& scan, SystemLog* log) {
  const Listing listing = listingOf(scan);
  return chosenEntries(scan.entries, listing, discoveryChoice(listing, log));
}

void descobertaBackups(const std::string& caminho, SystemLog& log) {
  const Listing listing = listBackupDirectory(caminho, ScanReads::NameOnly, &log);
  const std::vector<std::uint32_t> descoberta = discoveryChoice(listing, &log);
  if (zabbix_host() == "debug") {
    printDebugHeader();
    for (const std::uint32_t i : descoberta) {
      const ListedEntry& entry = listing.entries[i];
      writeListed(listing.hosts[entry.host]);
      console::write(" ");
      console::line(listing.shownDate(entry));
    }
    console::endProcess(0);
  }
  Delivery delivery(log, mode());
  delivery.send_zabbix(zabbix_server(), zabbix_host(), "descobertaBackups",
                       descobertaJson(listing, descoberta));
  delivery.flush();
  // "OK" says the report has finished, not that Zabbix took the value.
  console::line("OK");
  console::endProcess(0);
}

}  // namespace bm
