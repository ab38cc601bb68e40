#include "reports/discovery.hpp"

#include <algorithm>
#include <ctime>
#include <numeric>

#include "base/console.hpp"
#include "base/failure.hpp"
#include "base/process_values.hpp"
#include "catalogue/duplicates.hpp"
#include "catalogue/scan.hpp"
#include "reports/debug_header.hpp"
#include "reports/discovery_document.hpp"
#include "zabbix/delivery.hpp"

namespace bm {

namespace {

// Newest date text first, stably: the text, not the day, so an unpadded date sorts by its
// characters. A directory holds few distinct dates, so the dates are sorted and the entries
// counted into place by their date's rank.
std::vector<std::uint32_t> byDateTextNewestFirst(const Listing& listing) {
  std::vector<std::uint32_t> dates(listing.dates.size());
  std::iota(dates.begin(), dates.end(), 0U);
  std::sort(dates.begin(), dates.end(), [&listing](std::uint32_t a, std::uint32_t b) {
    return listing.dates[a] > listing.dates[b];
  });
  std::vector<std::uint32_t> rank(dates.size());
  for (std::uint32_t r = 0; r < dates.size(); ++r) rank[dates[r]] = r;
  return orderByRank(listing, rank, &ListedEntry::date);
}

}  // namespace

std::vector<std::uint32_t> discoveryChoice(const Listing& listing, SystemLog* log) {
  if (listing.scheme == NamingScheme::ModificationTime) return listingOrder(listing);
  std::vector<std::uint32_t> chosen =
      removerHostsDuplicados(listing, byDateTextNewestFirst(listing), log);
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
