#pragma once

#include <vector>

#include "catalogue/backup_entry.hpp"

namespace bm {

// One entry per host name, in first-seen order: the one with the latest {#DATA_HOST} day, the
// first one in input order at equal days. Every date is parsed (BadDate when one is not a
// "%Y-%m-%d" day, naming the file when undated has it) and the kept ones are rewritten as
// "%Y-%m-%d". The input is not changed.
std::vector<BackupEntry> removerHostsDuplicados(const std::vector<BackupEntry>& hosts,
                                                const std::vector<UndatedEntry>& undated = {});

}  // namespace bm
