#pragma once

#include <string>
#include <vector>

#include "catalogue/backup_entry.hpp"
#include "zabbix/delivery.hpp"

namespace bm {

// The collection list of a scan with times: every age measured against the one instant now;
// name-field entries sorted by host name (stable), then one per host; modification-time entries
// as listed, duplicates kept.
// With a log, names that give one host are said there.
std::vector<BackupEntry> collectionList(ScanResult scan, double now, SystemLog* log = nullptr);

// Sends each entry's age under "ultimaModificacao[HOST]", in order, then what the delivery still
// holds. A host (or, batched, a request) that cannot be delivered costs its five attempts; the
// next one is still tried.
void deliverAges(Delivery& delivery, const std::vector<BackupEntry>& descoberta,
                 const std::string& zabbix_server, const std::string& zabbix_host);

// Mode coletarData: prints every entry with its modification time and age (host "debug") or
// delivers each age under "ultimaModificacao[HOST]". Ends the process.
[[noreturn]] void coletarData(const std::string& caminho, SystemLog& log);

}  // namespace bm
