#pragma once

#include <string>
#include <vector>

#include "base/system_log.hpp"
#include "catalogue/backup_content.hpp"

namespace bm {

// A backup's content as its item's value, one line of JSON: {"bytes":N,"sha256":"HEX"}, or
// {"bytes":N,"error":"TEXT"} when it could not be read; with a last member,
// "unidos":["FILE",...], when the host's files have names that differ beyond their date (two
// devices behind one host), the newest file of each name.
std::string saudeJson(const BackupContent& content,
                      const std::vector<std::string>& unidos = std::vector<std::string>());

// Mode coletarSaude: reads the content of every entry coletarData reports, in the same order,
// and prints HOST DATE BYTES SHA256 (or HOST DATE BYTES - ERROR) for each (host "debug") or
// delivers each as saudeJson under "saudeBackup[HOST]". A file that cannot be read is a value,
// not a failure. Ends the process.
[[noreturn]] void coletarSaude(const std::string& caminho, SystemLog& log);

}  // namespace bm
