#pragma once

#include <string>
#include <string_view>

#include "catalogue/backup_entry.hpp"

namespace bm {

// "huawei" anywhere in the path text, case-sensitively, selects the name-field scheme.
NamingScheme namingSchemeFor(std::string_view caminho);

// Lists caminho once and builds one entry per name but "." and "..", in the order the file
// system lists them. Fails when the directory cannot be listed, when a name lacks its fields
// (name-field scheme) or when an entry's status cannot be read (modification-time scheme).
ScanResult scanBackupDirectory(const std::string& caminho);

// The same scan, also reading every entry's status in both schemes for dataModificacao.
ScanResult scanBackupDirectoryWithTimes(const std::string& caminho);

// The scan with times, also keeping every file name (fileNames, fileIndex).
ScanResult scanBackupDirectoryWithNames(const std::string& caminho);

}  // namespace bm
