#pragma once

#include <string>
#include <vector>

#include "catalogue/backup_entry.hpp"

namespace bm {

// The collection list of a scan with times: every age measured against the one instant now;
// name-field entries sorted by host name (stable), then one per host; modification-time entries
// as listed, duplicates kept.
std::vector<BackupEntry> collectionList(ScanResult scan, double now);

// Mode coletarData: prints every entry with its modification time and age (host "debug") or
// delivers each age under "ultimaModificacao[HOST]". Ends the process.
[[noreturn]] void coletarData(const std::string& caminho);

}  // namespace bm
