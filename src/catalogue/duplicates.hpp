#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "catalogue/backup_entry.hpp"
#include "catalogue/listing.hpp"

namespace bm {

class SystemLog;

// One entry per host name, in first-seen order: the one with the latest {#DATA_HOST} day, the
// first one in input order at equal days. Every date is parsed (BadDate when one is not a
// "%Y-%m-%d" day, naming the file when undated has it) and the kept ones are rewritten as
// "%Y-%m-%d". The input is not changed. With a log, names that differ beyond their date and give
// one host are said there, once per host.
std::vector<BackupEntry> removerHostsDuplicados(const std::vector<BackupEntry>& hosts,
                                                const std::vector<UndatedEntry>& undated = {},
                                                SystemLog* log = nullptr);

// The same over a name-field listing's entries taken in order: the chosen entries' numbers, one
// per host in first-seen order (their dates are shown as days by Listing::shownDate).
std::vector<std::uint32_t> removerHostsDuplicados(const Listing& listing,
                                                  const std::vector<std::uint32_t>& order,
                                                  SystemLog* log = nullptr);

// A host whose files have names that differ beyond their date: two devices or more behind one
// host, of which only the newest backup counts.
struct MergedHost {
  std::string nomeHost;
  // For each of the different names, its newest file (by the date in its name), in byte order.
  std::vector<std::string> fileNames;
};

// The merged hosts of a name-field listing that kept its names, in host-name order. Entries
// whose date is not a day are left to the duplicate removal, which refuses them.
std::vector<MergedHost> mergedHosts(const Listing& listing);

// Says in the system log each chosen entry whose name is dated after the local day of now: the
// name's date chose it as the newest, so it hides the host's real backups until that day comes.
void noteNamesDatedAfterToday(const Listing& listing, const std::vector<std::uint32_t>& chosen,
                              std::time_t now, SystemLog& log);

}  // namespace bm
