#include "reports/health.hpp"

#include <cstdlib>
#include <memory>

#include "base/console.hpp"
#include "base/failure.hpp"
#include "base/json_escape.hpp"
#include "base/process_values.hpp"
#include "catalogue/content_pool.hpp"
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
void printEntry(std::string_view host, std::string_view date, const BackupContent& content) {
  writeListed(host);
  console::write(" ");
  console::write(date);
  console::write(" ");
  console::write(std::to_string(content.bytes));
  console::write(" ");
  if (content.error.empty() && content.completeness.incomplete.empty()) {
    console::line(content.sha256);
  } else if (content.error.empty()) {
    console::write(content.sha256);
    console::write(" incompleto: ");
    console::line(visibleText(content.completeness.incomplete));
  } else {
    console::write("- ");
    console::line(visibleText(content.error));
  }
}

// The pattern of BACKUP_MONITOR_LAST_LINE, read before anything is sent; none when it is unset
// or empty, as with Zabbix's own variables.
std::unique_ptr<LastLinePattern> lastLinePattern() {
  const char* text = std::getenv("BACKUP_MONITOR_LAST_LINE");
  if (text == nullptr || *text == '\0') return nullptr;
  return std::make_unique<LastLinePattern>(text, "BACKUP_MONITOR_LAST_LINE");
}

// What of a backup could not be checked (an encrypted member) is no problem of the backup's,
// so it is said here and not to Zabbix.
void noteUnchecked(SystemLog& log, const std::string& path, const BackupContent& content) {
  if (content.error.empty() && !content.completeness.unchecked.empty()) {
    log.detail(SystemLog::Severity::Notice,
               "a completude de " + quotedText(path) +
                   " não foi verificada: " + content.completeness.unchecked);
  }
}

}  // namespace

std::string saudeJson(const BackupContent& content, const std::vector<std::string>& unidos) {
  std::string json = R"({"bytes":)" + std::to_string(content.bytes);
  if (content.error.empty()) {
    json += R"(,"sha256":")" + content.sha256 + '"';
    if (!content.completeness.incomplete.empty()) {
      json += R"(,"incomplete":)";
      json::appendKeptString(json, content.completeness.incomplete);
    }
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
  const std::unique_ptr<LastLinePattern> lastLine = lastLinePattern();
  const Listing listing = listBackupDirectory(caminho, ScanReads::TimesAndNames, &log);
  // Two devices behind one host are found here, where the names are at hand.
  const std::vector<MergedHost> merged =
      listing.scheme == NamingScheme::NameFields ? mergedHosts(listing) : std::vector<MergedHost>();
  // The entries coletarData reports; their ages, measured against any instant, are not used.
  const std::vector<std::uint32_t> descoberta = collectionChoice(listing, &log);
  const bool debug = zabbix_host() == "debug";
  if (debug) printDebugHeader();
  Delivery delivery(log, mode());
  // Read on every core, each file whole by one reader; taken in order, as each is printed or
  // sent, so that nothing of a file is held past its turn but the few read ahead.
  ContentPool contents(
      descoberta.size(),
      [&caminho, &listing, &descoberta](std::size_t k) {
        std::string path = caminho;
        path += '/';
        path += listing.names[listing.entries[descoberta[k]].name];
        return path;
      },
      readersFor(descoberta.size()), lastLine.get());
  // Both in host-name order: the merged hosts are met one after the other.
  auto nextMerged = merged.begin();
  const std::vector<std::string> none;
  for (const std::uint32_t i : descoberta) {
    const ListedEntry& entry = listing.entries[i];
    const std::string_view host = listing.hosts[entry.host];
    while (nextMerged != merged.end() && nextMerged->nomeHost < host) ++nextMerged;
    const bool isMerged = nextMerged != merged.end() && nextMerged->nomeHost == host;
    const auto [path, content] = contents.next();
    noteUnchecked(log, path, content);
    if (debug) {
      printEntry(host, listing.shownDate(entry), content);
    } else {
      delivery.send_zabbix(zabbix_server(), zabbix_host(),
                           "saudeBackup[" + itemKeyParameter(host) + "]",
                           saudeJson(content, isMerged ? nextMerged->fileNames : none));
    }
  }
  delivery.flush();
  console::endProcess(0);
}

}  // namespace bm
