#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/dates.hpp"

namespace bm {

// The discovery macros that name an entry's fields, in the order every output writes them.
inline constexpr std::string_view NOME_HOST = "{#NOME_HOST}";
inline constexpr std::string_view DATA_HOST = "{#DATA_HOST}";
inline constexpr std::string_view DATA_MODIFICACAO = "{#DATA_MODIFICACAO}";
inline constexpr std::string_view TEMPO_MODIFICACAO = "{#TEMPO_MODIFICACAO}";

// One backup directory entry. The fields stand in macro order; the discovery report uses the
// first two, the collection report all four. The health report also reads the file: fileIndex
// finds its name in the scan's fileNames (a number, not a name, so that the reports that never
// open a file do not pay for holding every name).
struct BackupEntry {
  std::string nomeHost;         // {#NOME_HOST}: upper case, trimmed
  std::string dataHost;         // {#DATA_HOST}: "%Y-%m-%d" once duplicates are removed
  double dataModificacao = 0;   // {#DATA_MODIFICACAO}: st_mtime in seconds, with its fraction
  double tempoModificacao = 0;  // {#TEMPO_MODIFICACAO}: age in seconds, negative if newer than now
  std::uint32_t fileIndex = 0;  // in ScanResult::fileNames, when the scan keeps names
  // dataHost as a calendar day, when the scan has already read it from a name; the duplicate
  // removal reads the others.
  std::optional<CalendarDay> day = std::nullopt;
  // A name-field entry's name with its date left out, hashed: two of them differing under one
  // host are two devices merged by their names (0: not known).
  std::size_t nameShape = 0;
};

// How a directory's file names give host names and dates.
enum class NamingScheme {
  NameFields,        // "date.anything.host[.more]": the path contains "huawei"
  ModificationTime,  // the whole name is the host, the modification day is the date
};

// A name-field entry whose date is not a calendar day, with the file it came from: kept aside
// so that the failure it causes later can name the file.
struct UndatedEntry {
  std::string dataHost;
  std::string nomeHost;
  std::string fileName;
};

struct ScanResult {
  NamingScheme scheme;
  std::vector<BackupEntry> entries;
  std::vector<UndatedEntry> undated = {};
  std::vector<std::string> fileNames = {};  // as listed, when the scan keeps them
};

}  // namespace bm
