#include "reports/health.hpp"

#include "base/console.hpp"
#include "base/failure.hpp"
#include "base/json_escape.hpp"
#include "base/process_values.hpp"
#include "catalogue/duplicates.hpp"
#include "catalogue/scan.hpp"
#include "reports/collection.hpp"
#include "reports/debug_header.hpp"
#include "reports/discovery_document.hpp"
#include "zabbix/delivery.hpp"
#include "zabbix/item_key.hpp"

namespace bm {
namespace {

// HOST DATE BYTES SHA256, or HOST DATE BYTES - ERROR.
void printEntry(const BackupEntry& entry, const BackupContent& content) {
  console::write(listedText(entry.nomeHost));
  console::write(" ");
  console::write(entry.dataHost);
  console::write(" ");
  console::write(std::to_string(content.bytes));
  console::write(" ");
  if (content.error.empty()) {
    console::line(content.sha256);
  } else {
    console::write("- ");
    console::line(visibleText(content.error));
  }
}

}  // namespace

std::string saudeJson(const BackupContent& content, const std::vector<std::string>& unidos) {
  std::string json = R"({"bytes":)" + std::to_string(content.bytes);
  if (content.error.empty()) {
    json += R"(,"sha256":")" + content.sha256 + '"';
  } else {
    json += R"(,"error":)";
    json::appendKeptString(json, content.error);
  }
  if (!unidos.empty()) {
    json += R"(,"unidos":[)";
    for (std::size_t i = 0; i < unidos.size(); ++i) {
      if (i > 0) json += ',';
      // In ASCII, as discovery writes names: a name's bytes need not be UTF-8.
      appendJsonString(json, unidos[i]);
    }
    json += ']';
  }
  json += '}';
  return json;
}

void coletarSaude(const std::string& caminho, SystemLog& log) {
  ScanResult scan = scanBackupDirectoryWithNames(caminho, &log);
  const std::vector<std::string> fileNames = std::move(scan.fileNames);
  // Two devices behind one host are found here, where the names are at hand.
  const std::vector<MergedHost> merged = scan.scheme == NamingScheme::NameFields
                                             ? mergedHosts(scan.entries, fileNames)
                                             : std::vector<MergedHost>();
  // The entries coletarData reports; their ages, measured against any instant, are not used.
  const std::vector<BackupEntry> descoberta = collectionList(std::move(scan), 0, &log, &fileNames);
  const bool debug = zabbix_host() == "debug";
  if (debug) printDebugHeader();
  Delivery delivery(log, mode());
  BackupContentReader reader;
  // Both in host-name order: the merged hosts are met one after the other.
  auto nextMerged = merged.begin();
  const std::vector<std::string> none;
  for (const BackupEntry& entry : descoberta) {
    while (nextMerged != merged.end() && nextMerged->nomeHost < entry.nomeHost) ++nextMerged;
    const bool isMerged = nextMerged != merged.end() && nextMerged->nomeHost == entry.nomeHost;
    // Read one at a time, as each is printed or sent: nothing of a file is held past its turn.
    const BackupContent content = reader.read(caminho + "/" + fileNames[entry.fileIndex]);
    if (debug) {
      printEntry(entry, content);
    } else {
      delivery.send_zabbix(zabbix_server(), zabbix_host(),
                           "saudeBackup[" + itemKeyParameter(entry.nomeHost) + "]",
                           saudeJson(content, isMerged ? nextMerged->fileNames : none));
    }
  }
  delivery.flush();
  console::endProcess(0);
}

}  // namespace bm
