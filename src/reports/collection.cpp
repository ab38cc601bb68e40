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
void printEntry(const BackupEntry& entry) {
  console::write(listedText(entry.nomeHost));
  console::write(" ");
  console::write(entry.dataHost);
  console::write(" ");
  writeNumber(entry.dataModificacao);
  console::write(" ");
  writeNumber(entry.tempoModificacao);
  console::write("\n");
}

}  // namespace

std::vector<BackupEntry> collectionList(ScanResult scan, double now, SystemLog* log,
                                        const std::vector<std::string>* fileNames) {
  for (BackupEntry& entry : scan.entries) entry.tempoModificacao = now - entry.dataModificacao;
  if (scan.scheme == NamingScheme::ModificationTime) return std::move(scan.entries);
  // Within a host, the tie's winner comes first: the duplicate removal keeps the first of a date.
  const std::vector<std::string>& names = fileNames != nullptr ? *fileNames : scan.fileNames;
  std::stable_sort(scan.entries.begin(), scan.entries.end(),
                   [&names](const BackupEntry& a, const BackupEntry& b) {
                     if (const int byHost = a.nomeHost.compare(b.nomeHost); byHost != 0) {
                       return byHost < 0;
                     }
                     if (a.dataModificacao != b.dataModificacao) {
                       return a.dataModificacao > b.dataModificacao;
                     }
                     return !names.empty() && names[a.fileIndex] > names[b.fileIndex];
                   });
  return removerHostsDuplicados(scan.entries, scan.undated, log);
}

void deliverAges(Delivery& delivery, const std::vector<BackupEntry>& descoberta,
                 const std::string& zabbix_server, const std::string& zabbix_host) {
  for (const BackupEntry& entry : descoberta) {
    // The key the server made from the discovered name, quoted where it quotes it.
    const std::string key = "ultimaModificacao[" + itemKeyParameter(entry.nomeHost) + "]";
    delivery.send_zabbix(zabbix_server, zabbix_host, key, entry.tempoModificacao);
  }
  delivery.flush();
}

void coletarData(const std::string& caminho, SystemLog& log) {
  // One instant for the whole run, read before the directory is listed.
  const double now = currentTime();
  const std::vector<BackupEntry> descoberta =
      collectionList(scanBackupDirectoryWithTimes(caminho, &log), now, &log);
  noteNamesDatedAfterToday(descoberta, static_cast<std::time_t>(now), log);
  if (zabbix_host() == "debug") {
    printDebugHeader();
    for (const BackupEntry& entry : descoberta) printEntry(entry);
    console::endProcess(0);
  }
  Delivery delivery(log, mode());
  // A directory without a single backup (an unmounted share, a job writing elsewhere) says so,
  // instead of the silence of a collection that stopped.
  if (descoberta.empty()) {
    delivery.send_zabbix(zabbix_server(), zabbix_host(), "equipamentosNoDiretorio",
                         std::string("0"));
  }
  deliverAges(delivery, descoberta, zabbix_server(), zabbix_host());
  console::endProcess(0);
}

}  // namespace bm
