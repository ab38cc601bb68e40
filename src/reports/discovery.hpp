#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/system_log.hpp"
#include "catalogue/backup_entry.hpp"
#include "catalogue/listing.hpp"

namespace bm {

// The discovery list of a scan: name-field entries sorted by date text, newest first (stable),
// then one per host; modification-time entries as listed. With a log, names that can mislead
// (two devices behind one host, a name dated after today) are said there.
std::vector<BackupEntry> discoveryList(const ScanResult& scan, SystemLog* log = nullptr);

// The same list as the numbers of a listing's entries.
std::vector<std::uint32_t> discoveryChoice(const Listing& listing, SystemLog* log = nullptr);

// Mode descobertaBackups: prints the list (host "debug") or delivers the discovery document and
// prints "OK". Ends the process.
[[noreturn]] void descobertaBackups(const std::string& caminho, SystemLog& log);

}  // namespace bm
