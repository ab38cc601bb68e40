#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/backup_entry.hpp"
#include "catalogue/listing.hpp"
#include "zabbix/delivery.hpp"

namespace bm {

// The collection list of a scan with times: every age measured against the one instant now;
// name-field entries sorted by host name, then one per host; modification-time entries as
// listed, duplicates kept. Of one host's backups with the same date, the one modified last wins,
// then (a scan with names) the name last in byte order: never the directory's order, which
// changes from run to run, so that every report and every run reads the same file.
// With a log, names that give one host are said there.
std::vector<BackupEntry> collectionList(ScanResult scan, double now, SystemLog* log = nullptr);

// The same list as the numbers of a listing's entries.
std::vector<std::uint32_t> collectionChoice(const Listing& listing, SystemLog* log = nullptr);

// Sends each entry's age under "ultimaModificacao[HOST]", in order, then what the delivery still
// holds. A host (or, batched, a request) that cannot be delivered costs its five attempts; the
// next one is still tried.
void deliverAges(Delivery& delivery, const std::vector<BackupEntry>& descoberta,
                 const std::string& zabbix_server, const std::string& zabbix_host);

// Mode coletarData: prints every entry with its modification time and age (host "debug") or
// delivers each age under "ultimaModificacao[HOST]". Ends the process.
[[noreturn]] void coletarData(const std::string& caminho, SystemLog& log);

}  // namespace bm
