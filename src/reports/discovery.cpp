#include "reports/discovery.hpp"

#include <algorithm>
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

std::vector<BackupEntry> discoveryList(ScanResult scan, SystemLog* log) {
  if (scan.scheme == NamingScheme::ModificationTime) return std::move(scan.entries);
  // Date text, not date order: an unpadded date sorts by its characters.
  std::stable_sort(
      scan.entries.begin(), scan.entries.end(),
      [](const BackupEntry& a, const BackupEntry& b) { return a.dataHost > b.dataHost; });
  std::vector<BackupEntry> chosen = removerHostsDuplicados(scan.entries, scan.undated, log);
  if (log != nullptr) noteNamesDatedAfterToday(chosen, std::time(nullptr), *log);
  return chosen;
}

void descobertaBackups(const std::string& caminho, SystemLog& log) {
  const std::vector<BackupEntry> descoberta =
      discoveryList(scanBackupDirectory(caminho, &log), &log);
  if (zabbix_host() == "debug") {
    printDebugHeader();
    for (const BackupEntry& entry : descoberta) {
      console::write(listedText(entry.nomeHost));
      console::write(" ");
      console::line(entry.dataHost);
    }
    console::endProcess(0);
  }
  Delivery delivery(log, mode());
  delivery.send_zabbix(zabbix_server(), zabbix_host(), "descobertaBackups",
                       descobertaJson(descoberta));
  delivery.flush();
  // "OK" says the report has finished, not that Zabbix took the value.
  console::line("OK");
  console::endProcess(0);
}

}  // namespace bm
