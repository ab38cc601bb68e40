#include "catalogue/duplicates.hpp"

#include <string_view>
#include <unordered_map>

#include "base/failure.hpp"
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

}  // namespace

std::vector<BackupEntry> removerHostsDuplicados(const std::vector<BackupEntry>& hosts,
                                                const std::vector<UndatedEntry>& undated) {
  std::vector<BackupEntry> chosen;
  std::vector<CalendarDay> chosenDays;
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
    } else if (*dataHost > chosenDays[row->second]) {
      chosen[row->second] = host;
      chosenDays[row->second] = *dataHost;
    }
  }
  for (std::size_t i = 0; i < chosen.size(); ++i) chosen[i].dataHost = formatDate(chosenDays[i]);
  return chosen;
}

}  // namespace bm
