#include "catalogue/completeness.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/failure.hpp"
#include "support/archives.hpp"

namespace bm {
namespace {

using test::gzipped;
using test::zipArchive;
using test::ZipMember;

// The verdict on bytes fed in pieces of a given size: a record split anywhere must read alike.
Completeness verdictOf(CompletenessCheck& check, const std::string& bytes, std::size_t piece) {
  check.start();
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    const std::size_t size = std::min(piece, bytes.size() - at);
    check.feed(reinterpret_cast<const unsigned char*>(bytes.data() + at), size);
  }
  return check.finish();
}

std::string cut(const std::string& bytes, std::size_t size) { return bytes.substr(0, size); }

std::string flipped(std::string bytes, std::size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
  return bytes;
}

// The same archive with one byte of its central directory's first entry changed.
std::string centralChanged(std::string bytes, std::size_t offsetInEntry) {
  return flipped(bytes, bytes.find("PK\x01\x02") + offsetInEntry);
}

struct Row {
  const char* what;
  std::string bytes;
  std::string incomplete;
  std::string unchecked = "";
};

TEST(Completeness, ArchivesAreCheckedWholeAndTheirFaultsNamed) {
  const std::string config = test::configurationText(40000, 1);
  const std::string good = zipArchive({{"running.cfg", config}, {"startup.cfg", config.substr(9)}});
  const std::size_t central = good.find("PK\x01\x02");
  const std::string stored = zipArchive({{"a.cfg", config, false}});
  const std::string streamed = zipArchive({{"a.cfg", config, true, true}, {"b.cfg", "", false}});
  const std::string gz = gzipped(config);
  const std::string bomb = zipArchive({{"a", std::string(std::size_t{1} << 20, '\0')}});
  std::string understated = bomb;  // says 16 bytes where 1 MiB comes out, in both headers
  for (std::size_t at : {std::size_t{22}, bomb.find("PK\x01\x02") + 24}) understated[at + 2] = 0;
  std::string bzip2 = zipArchive({{"a.cfg", config, false}});
  for (std::size_t at : {std::size_t{8}, bzip2.find("PK\x01\x02") + 10}) bzip2[at] = 12;
  const std::vector<Row> rows = {
      {"deflated", good, ""},
      {"stored", stored, ""},
      {"sizes after the data", streamed, ""},
      {"no member", zipArchive({}), ""},
      {"zip64",
       zipArchive({{"a.cfg", config, true, false, false, true},
                   {"b.cfg", config, true, true, false, true}},
                  "", true),
       ""},
      {"zip64, cut after the members",
       cut(zipArchive({{"a.cfg", config}}, "", true),
           zipArchive({{"a.cfg", config}}).find("PK\x01\x02") + 46 + 5 + 20),
       "zip cortado no diretório central"},
      {"a comment", zipArchive({{"a.cfg", config}}, "made by hand"), ""},
      {"a zip inside", zipArchive({{"inner.zip", good, false}}), ""},
      {"cut in the first member", cut(good, 200), "zip cortado no membro 'running.cfg'"},
      {"cut in a header", cut(good, central - 10), "zip cortado no membro 'startup.cfg'"},
      {"cut after the members", cut(good, central), "zip cortado: sem o diretório central"},
      {"cut in the central directory", cut(good, central + 50), "zip cortado no diretório central"},
      {"cut in the end record", cut(good, good.size() - 3), "zip cortado no diretório central"},
      {"cut in the comment", cut(zipArchive({}, "abc"), 24), "zip cortado no diretório central"},
      {"cut in a descriptor", cut(streamed, streamed.find("PK\x07\x08") + 6),
       "zip cortado no membro 'a.cfg'"},
      {"a stored byte flipped", flipped(stored, 1000), "CRC-32 errado no membro 'a.cfg'"},
      {"a deflated byte flipped", flipped(good, 300),
       "dados comprimidos inválidos no membro 'running.cfg'"},
      {"the CRC flipped in both headers", centralChanged(flipped(stored, 14), 16),
       "CRC-32 errado no membro 'a.cfg'"},
      {"the directory's CRC", centralChanged(good, 16),
       "diretório central não confere com os membros"},
      {"the directory's offset", centralChanged(good, 42),
       "diretório central não confere com os membros"},
      {"the end record's count", flipped(good, good.size() - 12),
       "diretório central não confere com os membros"},
      {"a name changed", centralChanged(good, 46), "diretório central não confere com os membros"},
      {"expands past its size", understated, "tamanho errado no membro 'a'"},
      {"garbage after a member", cut(good, central) + "garbage!",
       "estrutura de zip inválida no byte " + std::to_string(central)},
      {"encrypted", zipArchive({{"a", "x", false, false, true}, {"b", "y", false, false, true}}),
       "", "membro 'a' cifrado (e mais 1)"},
      {"encrypted, sizes after", zipArchive({{"a", "x", false, true, true}}), "",
       "membro 'a' cifrado"},
      {"bzip2", bzip2, "", "membro 'a.cfg' comprimido pelo método 12"},
      {"gzip", gz, ""},
      {"two gzip members", gz + gzipped("more\n"), ""},
      {"gzip and zeros after", gz + std::string(512, '\0'), ""},
      {"gzip cut in the data", cut(gz, gz.size() / 2), "gzip cortado"},
      {"gzip cut in its trailer", cut(gz, gz.size() - 2), "gzip cortado"},
      {"gzip's CRC", flipped(gz, gz.size() - 6), "CRC-32 errado no gzip"},
      {"gzip's size", flipped(gz, gz.size() - 3), "tamanho errado no gzip"},
      {"text", config, ""},
      {"nothing", "", ""},
  };
  CompletenessCheck check;
  for (const Row& row : rows) {
    for (const std::size_t piece : {row.bytes.size() + 1, std::size_t{1}, std::size_t{4093}}) {
      SCOPED_TRACE(std::string(row.what) + " in pieces of " + std::to_string(piece));
      const Completeness verdict = verdictOf(check, row.bytes, piece);
      EXPECT_EQ(verdict.incomplete, row.incomplete);
      EXPECT_EQ(verdict.unchecked, row.unchecked);
    }
  }
}

// The last non-blank line, without its ending and trailing blanks, of text and of a gzip's
// content; a zip's members are not one text and are left alone.
TEST(Completeness, TheLastLineMustMatchThePattern) {
  const LastLinePattern pattern("^(end|return)$", "BACKUP_MONITOR_LAST_LINE");
  const std::string config = test::configurationText(300000, 2);
  const std::string longLine(10000, 'x');
  const std::vector<Row> rows = {
      {"ends", config, ""},
      {"blank lines after, CRLF", "a\r\nreturn\r\n\r\n \t\n\n", ""},
      {"no line ending", "a\nend", ""},
      {"cut", cut(config, 200000),
       "última linha '" +
           config.substr(config.rfind('\n', 200000) + 1, 200000 - config.rfind('\n', 200000) - 1) +
           "' não confere com BACKUP_MONITOR_LAST_LINE"},
      {"a long last line", "end\n" + longLine + "\n",
       "última linha '" + longLine.substr(0, 200) +
           "...' não confere com BACKUP_MONITOR_LAST_LINE"},
      {"only blanks", " \n\n\t\n", "nenhuma linha não vazia para BACKUP_MONITOR_LAST_LINE"},
      {"empty, which its size tells", "", ""},
      {"a gzip that ends", gzipped(config), ""},
      {"a gzip whose text was cut", gzipped("a\nen"),
       "última linha 'en' não confere com BACKUP_MONITOR_LAST_LINE"},
      {"a cut gzip", cut(gzipped(config), 100), "gzip cortado"},
      {"a zip", zipArchive({{"a", "no end"}}), ""},
  };
  CompletenessCheck check(&pattern);
  for (const Row& row : rows) {
    for (const std::size_t piece : {row.bytes.size() + 1, std::size_t{1}, std::size_t{4093}}) {
      SCOPED_TRACE(std::string(row.what) + " in pieces of " + std::to_string(piece));
      EXPECT_EQ(verdictOf(check, row.bytes, piece).incomplete, row.incomplete);
    }
  }
  try {
    const LastLinePattern invalid("(end", "BACKUP_MONITOR_LAST_LINE");
    ADD_FAILURE() << "an invalid expression was taken";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::Configuration);
    // The reason is the C library's, whose wording is not ours to pin.
    EXPECT_EQ(failure.message().rfind("BACKUP_MONITOR_LAST_LINE: expressão '(end' inválida: ", 0),
              0u);
  }
}

}  // namespace
}  // namespace bm
