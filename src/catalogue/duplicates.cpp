#include "catalogue/duplicates.hpp"

#include <algorithm>
#include <limits>
#include <map>
#include <string_view>
#include <unordered_map>

#include "base/failure.hpp"
#include "base/system_log.hpp"
#include "catalogue/dates.hpp"
#include "catalogue/file_names.hpp"

namespace bm {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// " (arquivo '...')" for the file an undated entry came from, when it is known.
std::string fileOf(std::string_view host, std::string_view date,
                   const std::vector<UndatedEntry>& undated) {
  for (const UndatedEntry& entry : undated) {
    if (entry.dataHost == date && entry.nomeHost == host) {
      return " (arquivo " + quotedName(entry.fileName) + ")";
    }
  }
  return "";
}

// Names that differ beyond their date and give one host ("2024-03-05.cfg.sw01.poa.example.net"
// and "2024-03-05.cfg.sw01.sao.example.net") are two devices hidden behind one: the operator
// hears of it once per host.
void noteMerge(const Listing& listing, const ListedEntry& kept, const ListedEntry& other,
               std::vector<bool>& said, std::size_t row, SystemLog* log) {
  if (log == nullptr || said[row] || kept.shape == 0 || other.shape == 0 ||
      kept.shape == other.shape) {
    return;
  }
  said[row] = true;
  log->detail(SystemLog::Severity::Warning,
              "arquivos de nomes diferentes dão o mesmo host " +
                  quotedName(listing.hosts[kept.host]) +
                  ": só o backup mais novo deles conta (veja as regras de nomes no guia)");
}

}  // namespace

std::vector<std::uint32_t> removerHostsDuplicados(const Listing& listing,
                                                  const std::vector<std::uint32_t>& order,
                                                  SystemLog* log) {
  std::vector<std::uint32_t> chosen;
  std::vector<bool> mergeSaid;
  // Host -> row in chosen: hosts are numbered, each name once, so a table does for a map.
  std::vector<std::uint32_t> rowOf(listing.hosts.size(), kNone);
  for (const std::uint32_t i : order) {
    const ListedEntry& host = listing.entries[i];
    const std::optional<CalendarDay>& dataHost = listing.days[host.date];
    if (!dataHost) {
      const std::string_view name = listing.hosts[host.host];
      const std::string_view date = listing.dates[host.date];
      throw Failure(FailureKind::BadDate, "a data " + quotedName(date) + " do host " +
                                              quotedName(name) +
                                              fileOf(name, date, listing.undated) +
                                              " não é uma data \"%Y-%m-%d\" válida");
    }
    std::uint32_t& row = rowOf[host.host];
    if (row == kNone) {
      row = static_cast<std::uint32_t>(chosen.size());
      chosen.push_back(i);
      mergeSaid.push_back(false);
      continue;
    }
    const ListedEntry& kept = listing.entries[chosen[row]];
    noteMerge(listing, kept, host, mergeSaid, row, log);
    if (*dataHost > *listing.days[kept.date]) chosen[row] = i;
  }
  return chosen;
}

std::vector<BackupEntry> removerHostsDuplicados(const std::vector<BackupEntry>& hosts,
                                                const std::vector<UndatedEntry>& undated,
                                                SystemLog* log) {
  Listing listing = listingOf(hosts, NamingScheme::NameFields);
  listing.undated = undated;
  const std::vector<std::uint32_t> chosen =
      removerHostsDuplicados(listing, listingOrder(listing), log);
  return chosenEntries(hosts, listing, chosen);
}

std::vector<MergedHost> mergedHosts(const Listing& listing) {
  // A host is merged when two of its dated entries differ in shape: found in one pass, so that
  // only such hosts (few, usually none) have their shapes gathered.
  std::vector<std::uint32_t> firstShape(listing.hosts.size(), 0);
  std::vector<bool> merged(listing.hosts.size(), false);
  bool any = false;
  for (const ListedEntry& entry : listing.entries) {
    if (!listing.days[entry.date] || entry.shape == 0) continue;
    std::uint32_t& first = firstShape[entry.host];
    if (first == 0) {
      first = entry.shape;
    } else if (first != entry.shape && !merged[entry.host]) {
      merged[entry.host] = true;
      any = true;
    }
  }
  if (!any) return {};
  // Host -> name shape -> the newest entry of that shape (the first listed of a day).
  std::map<std::string_view, std::unordered_map<std::uint32_t, const ListedEntry*>> shapes;
  for (const ListedEntry& entry : listing.entries) {
    if (!merged[entry.host] || !listing.days[entry.date] || entry.shape == 0) continue;
    const ListedEntry*& newest = shapes[listing.hosts[entry.host]][entry.shape];
    if (newest == nullptr || *listing.days[entry.date] > *listing.days[newest->date]) {
      newest = &entry;
    }
  }
  std::vector<MergedHost> out;
  for (const auto& [host, byShape] : shapes) {
    MergedHost m{std::string(host), {}};
    for (const auto& shape : byShape) m.fileNames.emplace_back(listing.names[shape.second->name]);
    std::sort(m.fileNames.begin(), m.fileNames.end());
    out.push_back(std::move(m));
  }
  return out;
}

void noteNamesDatedAfterToday(const Listing& listing, const std::vector<std::uint32_t>& chosen,
                              std::time_t now, SystemLog& log) {
  if (listing.scheme != NamingScheme::NameFields) return;
  LocalDays days;
  const std::optional<CalendarDay> today = parseDate(days.dateOf(now));
  if (!today) return;
  for (const std::uint32_t i : chosen) {
    const ListedEntry& entry = listing.entries[i];
    const std::optional<CalendarDay>& day = listing.days[entry.date];
    if (day && *day > *today) {
      log.detail(SystemLog::Severity::Warning,
                 "o nome do backup de " + quotedName(listing.hosts[entry.host]) + " tem a data " +
                     formatDate(*day) + ", depois de hoje (" + formatDate(*today) +
                     "): ele passa à frente dos backups reais desse host até lá");
    }
  }
}

}  // namespace bm
