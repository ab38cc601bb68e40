#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "catalogue/dates.hpp"
#include "catalogue/file_names.hpp"
#include "reports/collection.hpp"
#include "reports/discovery.hpp"
#include "support/log_socket.hpp"

namespace bm {
namespace {

using testing::ElementsAre;

BackupEntry entry(std::string host, std::string date, double mtime = 0) {
  return BackupEntry{std::move(host), std::move(date), mtime, 0};
}

std::vector<std::string> summary(const std::vector<BackupEntry>& entries) {
  std::vector<std::string> out;
  for (const BackupEntry& e : entries) {
    out.push_back(e.nomeHost + " " + e.dataHost + " " + std::to_string(e.dataModificacao) + " " +
                  std::to_string(e.tempoModificacao));
  }
  return out;
}

TEST(DiscoveryList, NameFieldsNewestDateTextFirstThenOneEntryPerHost) {
  const ScanResult scan{
      NamingScheme::NameFields,
      {entry("B", "2024-03-01"), entry("A", "2024-03-04"), entry("C", "2024-03-09"),
       entry("A", "2024-03-05"), entry("D", "2024-03-05")}};
  EXPECT_THAT(summary(discoveryList(scan)),
              ElementsAre("C 2024-03-09 0.000000 0.000000", "A 2024-03-05 0.000000 0.000000",
                          "D 2024-03-05 0.000000 0.000000", "B 2024-03-01 0.000000 0.000000"));
}

// Names that can mislead are said in the system log: two devices behind one host name (an
// address or a domain cut away), once per host however many names it merges, and a name dated
// after today, which hides the real backups; today itself is no such date.
TEST(DiscoveryList, TellsTheSystemLogOfMergedNamesAndNamesDatedAfterToday) {
  test::LogSocket socket;
  SystemLog log(socket.path());
  ScanResult scan{NamingScheme::NameFields, {}};
  const std::string today = LocalDays().dateOf(std::time(nullptr)) + ".cfg.r2.cfg";
  for (const std::string name :
       {"2024-03-05.cfg.sw01.poa.example.net.cfg", "2024-03-06.cfg.sw01.poa.example.net.cfg",
        "2024-03-06.cfg.sw01.sao.example.net.cfg", "2024-03-07.cfg.sw01.rio.example.net.cfg",
        "2999-01-01.cfg.r1.cfg", today.c_str()}) {
    BackupEntry e = nameFieldsEntry(name);
    e.day = parseDate(e.dataHost);
    scan.entries.push_back(std::move(e));
  }
  discoveryList(scan, &log);
  LocalDays days;
  EXPECT_THAT(socket.lines(),
              ElementsAre("<12>arquivos de nomes diferentes dão o mesmo host 'SW01': só o backup "
                          "mais novo deles conta (veja as regras de nomes no guia)",
                          "<12>o nome do backup de 'R1' tem a data 2999-01-01, depois de hoje (" +
                              days.dateOf(std::time(nullptr)) +
                              "): ele passa à frente dos backups reais desse host até lá"));
}

TEST(DiscoveryList, SortsByTextEvenWhereUnpaddedDatesDisagree) {
  // "2024-3-9" > "2024-3-10" > "2024-03-11" as text, the reverse of their order as days.
  const ScanResult scan{NamingScheme::NameFields,
                        {entry("X", "2024-03-11"), entry("Y", "2024-3-10"), entry("Z", "2024-3-9"),
                         entry("Z", "2024-03-12")}};
  EXPECT_THAT(summary(discoveryList(scan)),
              ElementsAre("Z 2024-03-12 0.000000 0.000000", "Y 2024-03-10 0.000000 0.000000",
                          "X 2024-03-11 0.000000 0.000000"));
}

TEST(DiscoveryList, ModificationTimeEntriesStayAsListed) {
  const ScanResult scan{
      NamingScheme::ModificationTime,
      {entry("SW1", "2024-03-01"), entry("A", "2024-03-09"), entry("SW1", "2024-03-05")}};
  EXPECT_THAT(summary(discoveryList(scan)),
              ElementsAre("SW1 2024-03-01 0.000000 0.000000", "A 2024-03-09 0.000000 0.000000",
                          "SW1 2024-03-05 0.000000 0.000000"));
}

TEST(CollectionList, NameFieldsByHostNameKeepingTheChosenFilesTimes) {
  // B's newest backup by name is the older file: its time is the one reported. Of A's two
  // backups of one day, the one modified last, wherever it is listed.
  const ScanResult scan{NamingScheme::NameFields,
                        {entry("B", "2024-03-07", 100), entry("A", "2024-03-01", 300),
                         entry("B", "2024-03-05", 200), entry("\u00c3", "2024-03-01", 50),
                         entry("A", "2024-03-01", 400), entry("A", "2024-03-01", 350)}};
  EXPECT_THAT(
      summary(collectionList(scan, 1000)),
      ElementsAre("A 2024-03-01 400.000000 600.000000", "B 2024-03-07 100.000000 900.000000",
                  "\u00c3 2024-03-01 50.000000 950.000000"));
}

// A scan that kept its names settles a tie of times by the name last in byte order, whichever
// host's entries come between.
TEST(CollectionList, NamesSettleTiesOfTime) {
  ScanResult scan{NamingScheme::NameFields,
                  {{"B", "2024-03-01", 300, 0, 0},
                   {"A", "2024-03-01", 300, 0, 1},
                   {"B", "2024-03-01", 300, 0, 2},
                   {"A", "2024-03-01", 300, 0, 3},
                   {"A", "2024-03-01", 200, 0, 4}}};
  scan.fileNames = {"2024-03-01.x.b.1", "2024-03-01.x.a.1", "2024-03-01.x.b.2", "2024-03-01.x.a.0",
                    "2024-03-01.x.a.9"};
  std::vector<std::uint32_t> files;
  for (const BackupEntry& e : collectionList(scan, 1000)) files.push_back(e.fileIndex);
  EXPECT_THAT(files, ElementsAre(1, 2));
}

TEST(CollectionList, ModificationTimeAsListedWithNegativeAgesForNewerFiles) {
  const ScanResult scan{NamingScheme::ModificationTime,
                        {entry("SW1", "2024-03-01", 1500.5), entry("SW1", "2024-03-01", 400.25)}};
  EXPECT_THAT(summary(collectionList(scan, 1000)),
              ElementsAre("SW1 2024-03-01 1500.500000 -500.500000",
                          "SW1 2024-03-01 400.250000 599.750000"));
}

}  // namespace
}  // namespace bm
