#pragma once

#include <string>
#include <string_view>

#include "catalogue/backup_entry.hpp"
#include "catalogue/listing.hpp"

namespace bm {

class SystemLog;

// "huawei" anywhere in the path text, case-sensitively, selects the name-field scheme.
NamingScheme namingSchemeFor(std::string_view caminho);

// Lists caminho once and builds one entry per name but "." and "..", in the order the file
// system lists them. Fails when the directory cannot be listed, when a name lacks its fields
// (name-field scheme) or when an entry's status cannot be read (modification-time scheme). An
// entry that is gone by the time its status is read (a rotation job removed it after the
// listing) is left out, and said in log if there is one; a link whose target is gone is not gone.
ScanResult scanBackupDirectory(const std::string& caminho, SystemLog* log = nullptr);

// The scan the reports make: held compactly, reading what reads asks beyond the names.
Listing listBackupDirectory(const std::string& caminho, ScanReads reads, SystemLog* log = nullptr);

// The same scan, also reading every entry's status in both schemes for dataModificacao.
ScanResult scanBackupDirectoryWithTimes(const std::string& caminho, SystemLog* log = nullptr);

}  // namespace bm
