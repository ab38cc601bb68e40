#include "catalogue/duplicates.hpp"

#include <algorithm>
#include <map>
#include <string_view>
#include <unordered_map>

#include "base/failure.hpp"
#include "base/system_log.hpp"
#include "catalogue/dates.hpp"
#include "catalogue/file_names.hpp"

namespace bm {

namespace {

// " (arquivo '...')" for the file an undated entry came from, when it is known.
std::string fileOf(const BackupEntry& host, const std::vector<UndatedEntry>& undated) {
  for (const UndatedEntry& entry : undated) {
    if (entry.dataHost == host.dataHost && entry.nomeHost == host.nomeHost) {
      return " (arquivo " + quotedName(entry.fileName) + ")";
    }
  }
  return "";
}

// Names that differ beyond their date and give one host ("2024-03-05.cfg.sw01.poa.example.net"
// and "2024-03-05.cfg.sw01.sao.example.net") are two devices hidden behind one: the operator
// hears of it once per host.
void noteMerge(const BackupEntry& kept, const BackupEntry& other, std::vector<bool>& said,
               std::size_t row, SystemLog* log) {
  if (log == nullptr || said[row] || kept.nameShape == 0 || other.nameShape == 0 ||
      kept.nameShape == other.nameShape) {
    return;
  }
  said[row] = true;
  log->detail(SystemLog::Severity::Warning,
              "arquivos de nomes diferentes dão o mesmo host " + quotedName(kept.nomeHost) +
                  ": só o backup mais novo deles conta (veja as regras de nomes no guia)");
}

}  // namespace

std::vector<BackupEntry> removerHostsDuplicados(const std::vector<BackupEntry>& hosts,
                                                const std::vector<UndatedEntry>& undated,
                                                SystemLog* log) {
  std::vector<BackupEntry> chosen;
  std::vector<CalendarDay> chosenDays;
  std::vector<bool> mergeSaid;
  // Host name -> row; the keys view the input's names, which outlive the table.
  std::unordered_map<std::string_view, std::size_t> hostsUnicos;
  hostsUnicos.reserve(hosts.size());
  for (const BackupEntry& host : hosts) {
    const std::optional<CalendarDay> dataHost = host.day ? host.day : parseDate(host.dataHost);
    if (!dataHost) {
      throw Failure(FailureKind::BadDate, "a data " + quotedName(host.dataHost) + " do host " +
                                              quotedName(host.nomeHost) + fileOf(host, undated) +
                                              " não é uma data \"%Y-%m-%d\" válida");
    }
    const auto [row, isNew] = hostsUnicos.try_emplace(host.nomeHost, chosen.size());
    if (isNew) {
      chosen.push_back(host);
      chosenDays.push_back(*dataHost);
      mergeSaid.push_back(false);
      continue;
    }
    noteMerge(chosen[row->second], host, mergeSaid, row->second, log);
    if (*dataHost > chosenDays[row->second]) {
      chosen[row->second] = host;
      chosenDays[row->second] = *dataHost;
    }
  }
  for (std::size_t i = 0; i < chosen.size(); ++i) chosen[i].dataHost = formatDate(chosenDays[i]);
  return chosen;
}

std::vector<MergedHost> mergedHosts(const std::vector<BackupEntry>& entries,
                                    const std::vector<std::string>& fileNames) {
  // Host -> name shape -> the newest entry of that shape; the keys view the entries' names.
  std::map<std::string_view, std::unordered_map<std::size_t, const BackupEntry*>> shapes;
  for (const BackupEntry& entry : entries) {
    if (!entry.day || entry.nameShape == 0) continue;
    const BackupEntry*& newest = shapes[entry.nomeHost][entry.nameShape];
    if (newest == nullptr || *entry.day > *newest->day) newest = &entry;
  }
  std::vector<MergedHost> merged;
  for (const auto& [host, byShape] : shapes) {
    if (byShape.size() < 2) continue;
    MergedHost m{std::string(host), {}};
    for (const auto& shape : byShape) m.fileNames.push_back(fileNames[shape.second->fileIndex]);
    std::sort(m.fileNames.begin(), m.fileNames.end());
    merged.push_back(std::move(m));
  }
  return merged;
}

void noteNamesDatedAfterToday(const std::vector<BackupEntry>& chosen, std::time_t now,
                              SystemLog& log) {
  LocalDays days;
  const std::optional<CalendarDay> today = parseDate(days.dateOf(now));
  if (!today) return;
  for (const BackupEntry& entry : chosen) {
    if (entry.day && *entry.day > *today) {
      log.detail(SystemLog::Severity::Warning,
                 "o nome do backup de " + quotedName(entry.nomeHost) + " tem a data " +
                     formatDate(*entry.day) + ", depois de hoje (" + formatDate(*today) +
                     "): ele passa à frente dos backups reais desse host até lá");
    }
  }
}

}  // namespace bm
