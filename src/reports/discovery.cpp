#include "reports/discovery.hpp"

#include <ctime>
#include <optional>
#include <string>

#include "base/console.hpp"
#include "base/failure.hpp"
#include "base/process_values.hpp"
#include "catalogue/duplicates.hpp"
#include "catalogue/file_names.hpp"
#include "catalogue/inventory.hpp"
#include "catalogue/scan.hpp"
#include "reports/debug_header.hpp"
#include "reports/discovery_document.hpp"
#include "zabbix/delivery.hpp"

namespace bm {
namespace {

// How many expected devices have no backup, and which (a few of them).
void noteInventory(SystemLog& log, const Inventory& inventory, const InventoryGaps& gaps) {
  log.write(gaps.missing.empty() ? SystemLog::Severity::Info : SystemLog::Severity::Warning,
            "inventário " + quotedText(inventory.path) + ": " +
                std::to_string(inventory.names.size()) + " equipamentos esperados, " +
                std::to_string(gaps.missing.size()) + " sem nenhum backup, " +
                std::to_string(gaps.unlisted.size()) + " com backup fora do inventário");
  for (const std::uint32_t id : gaps.missing) {
    log.detail(SystemLog::Severity::Warning,
               "nenhum backup de " + quotedName(inventory.names[id]) + ", esperado no inventário");
  }
}

// After the listing: the expected devices without any backup, then those not expected.
void printGaps(const Inventory& inventory, const InventoryGaps& gaps) {
  for (const std::uint32_t id : gaps.missing) {
    writeListed(inventory.names[id]);
    console::line(" sem nenhum backup");
  }
  for (std::uint32_t id = 0; id < gaps.unlisted.size(); ++id) {
    writeListed(gaps.unlisted[id]);
    console::line(" fora do inventário");
  }
}

}  // namespace

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
  // Read first: an inventory that cannot be used ends the run before anything is sent.
  const std::optional<Inventory> inventory = environmentInventory();
  const Listing listing = listBackupDirectory(caminho, ScanReads::NameOnly, &log);
  const std::vector<std::uint32_t> descoberta = discoveryChoice(listing, &log);
  std::optional<InventoryGaps> gaps;
  if (inventory) {
    gaps = inventoryGaps(*inventory, listing, descoberta);
    noteInventory(log, *inventory, *gaps);
  }
  if (zabbix_host() == "debug") {
    printDebugHeader();
    for (const std::uint32_t i : descoberta) {
      const ListedEntry& entry = listing.entries[i];
      writeListed(listing.hosts[entry.host]);
      console::write(" ");
      console::line(listing.shownDate(entry));
    }
    if (gaps) printGaps(*inventory, *gaps);
    console::endProcess(0);
  }
  Delivery delivery(log, mode());
  delivery.send_zabbix(zabbix_server(), zabbix_host(), "descobertaBackups",
                       descobertaJson(listing, descoberta));
  // Every run says it in full, so a device's problem ends once it is no longer listed.
  if (gaps) {
    delivery.send_zabbix(zabbix_server(), zabbix_host(), "inventarioBackups",
                         inventarioJson(*inventory, *gaps));
  }
  delivery.flush();
  // "OK" says the report has finished, not that Zabbix took the value.
  console::line("OK");
  console::endProcess(0);
}

}  // namespace bm
