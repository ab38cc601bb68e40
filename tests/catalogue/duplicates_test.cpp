#include "catalogue/duplicates.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/failure.hpp"

namespace bm {
namespace {

// The modification time tells which input record was kept.
BackupEntry entry(std::string host, std::string date, double tag = 0) {
  return BackupEntry{std::move(host), std::move(date), tag, -tag};
}

std::vector<std::string> summary(const std::vector<BackupEntry>& entries) {
  std::vector<std::string> out;
  for (const BackupEntry& e : entries) {
    out.push_back(e.nomeHost + " " + e.dataHost + " " + std::to_string(int(e.dataModificacao)) +
                  " " + std::to_string(int(e.tempoModificacao)));
  }
  return out;
}

TEST(RemoverHostsDuplicados, KeepsTheNewestRecordOfEachHostAtItsFirstPlace) {
  const struct {
    const char* name;
    std::vector<BackupEntry> input;
    std::vector<std::string> output;
  } cases[] = {
      {"empty", {}, {}},
      {"one per host, dates rewritten",
       {entry("A", "2024-3-5", 1), entry("B", "2024-03- 7", 2), entry("C", "0001-01-05", 3)},
       {"A 2024-03-05 1 -1", "B 2024-03-07 2 -2", "C 0001-01-05 3 -3"}},
      {"later date last",
       {entry("A", "2024-03-04", 1), entry("B", "2024-01-01", 2), entry("A", "2024-03-05", 3)},
       {"A 2024-03-05 3 -3", "B 2024-01-01 2 -2"}},
      {"later date first",
       {entry("A", "2024-03-05", 1), entry("A", "2024-03-04", 2)},
       {"A 2024-03-05 1 -1"}},
      {"same day: the first wins, however written",
       {entry("A", "2024-03-05", 1), entry("A", "2024-3-5", 2), entry("A", "2024-03- 5", 3)},
       {"A 2024-03-05 1 -1"}},
      {"calendar order, not text order",
       {entry("A", "2024-3-9", 1), entry("A", "2024-03-10", 2)},
       {"A 2024-03-10 2 -2"}},
      {"no folding or trimming of names",
       {entry("SW1", "2024-01-01", 1), entry("sw1", "2024-01-02", 2),
        entry(" SW1", "2024-01-03", 3), entry("", "2024-01-04", 4)},
       {"SW1 2024-01-01 1 -1", "sw1 2024-01-02 2 -2", " SW1 2024-01-03 3 -3", " 2024-01-04 4 -4"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THAT(summary(removerHostsDuplicados(c.input)), testing::ElementsAreArray(c.output));
  }
}

TEST(RemoverHostsDuplicados, LeavesItsInputUnchanged) {
  const std::vector<BackupEntry> input = {entry("A", "2024-3-5", 1), entry("A", "2024-3-6", 2)};
  std::vector<BackupEntry> output = removerHostsDuplicados(input);
  output[0].nomeHost = "changed";
  EXPECT_THAT(summary(input), testing::ElementsAre("A 2024-3-5 1 -1", "A 2024-3-6 2 -2"));
}

TEST(RemoverHostsDuplicados, FailsOnAnyRecordWhoseDateIsNotADay) {
  // The bad record would be dropped for the newer one of its host, but is still parsed.
  for (const char* bad : {"2024-02-30", "2024-13-01", "README", "2024-03-05 "}) {
    SCOPED_TRACE(bad);
    const std::vector<BackupEntry> input = {entry("A", "2024-12-31"), entry("A", bad)};
    try {
      removerHostsDuplicados(input);
      ADD_FAILURE() << "no failure";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::BadDate);
      EXPECT_EQ(failure.message(),
                std::string("a data '") + bad + "' do host 'A' não é uma data \"%Y-%m-%d\" válida");
    }
  }
}

}  // namespace
}  // namespace bm
