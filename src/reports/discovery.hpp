#pragma once

#include <string>
#include <vector>

#include "catalogue/backup_entry.hpp"

namespace bm {

// The discovery list of a scan: name-field entries sorted by date text, newest first (stable),
// then one per host; modification-time entries as listed.
std::vector<BackupEntry> discoveryList(ScanResult scan);

// Mode descobertaBackups: prints the list (host "debug") or delivers the discovery document and
// prints "OK". Ends the process.
[[noreturn]] void descobertaBackups(const std::string& caminho);

}  // namespace bm
