#include "catalogue/file_names.hpp"

#include <gtest/gtest.h>

#include "base/failure.hpp"
#include "catalogue/unicode_name.hpp"
#include "support/scoped.hpp"

namespace bm {
namespace {

TEST(TrimmedUpper, TrimsUnicodeWhiteSpaceAndUpperCasesInTheRootLocale) {
  const struct {
    const char* name;
    std::string raw;
    std::string shown;
  } cases[] = {
      {"ascii", "core-sw1.cfg", "CORE-SW1.CFG"},
      {"ascii letters a to z, and their neighbours", "`az{@AZ[", "`AZ{@AZ["},
      {"blanks", "  core sw1 ", "CORE SW1"},
      {"ascii controls 9-13 and 28-31", "\t\n\v\f\r\x1c\x1d\x1e\x1fsw\x1f", "SW"},
      {"other controls stay", "\x01sw\x7f", "\x01SW\x7f"},
      {"no-break and ideographic space", "\u00a0sw\u3000", "SW"},
      {"controls 28-31 around other text", "\x1c\x1dsão\x1e\x1f", "SÃO"},
      {"NEL and line separator", "\u0085sw\u2028", "SW"},
      {"zero width space is no white space", "\u200bsw", "\u200bSW"},
      {"a with tilde", "são-paulo", "SÃO-PAULO"},
      {"sharp s grows", "straße", "STRASSE"},
      {"fi ligature", "\ufb01le", "FILE"},
      {"dotless i stays Turkish-free", "istanbul", "ISTANBUL"},
      {"above U+FFFF", "\U00010428x", "\U00010400X"},
      {"emoji unchanged", "\U0001F600", "\U0001F600"},
      {"invalid byte", "sw\xff", "SW\ufffd"},
      {"each undecodable byte", "\xe2\x82z", "\ufffd\ufffdZ"},
      {"empty", "", ""},
      {"only white space", " \u00a0\t", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(trimmedUpper(c.raw), c.shown);
  }
}

TEST(TrimmedUpper, IgnoresTheProcessAndIcuDefaultLocales) {
  const test::ScopedLocale turkish("tr_TR.UTF-8", "tr_TR");
  EXPECT_EQ(trimmedUpper("istanbul-\u0131"), "ISTANBUL-I");
  EXPECT_EQ(trimmedUpper("lithuanian i\u0307"), "LITHUANIAN I\u0307");
}

TEST(NameFieldsEntry, DateFromFieldZeroHostFromFieldTwo) {
  const struct {
    const char* name;
    const char* host;
    const char* date;
  } cases[] = {
      {"2024-03-05.cfg.core-sw1.zip", "CORE-SW1", "2024-03-05"},
      {" 2024-03-05 .cfg. core-sw1 .zip", "CORE-SW1", "2024-03-05"},
      {"2024-03-05.cfg.core-sw1", "CORE-SW1", "2024-03-05"},
      {"a..b", "B", "A"},
      {"..", "", ""},
      {"x.y.", "", "X"},
      {"2024-3-5.x.são.paulo", "SÃO", "2024-3-5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const BackupEntry entry = nameFieldsEntry(c.name);
    EXPECT_EQ(entry.nomeHost, c.host);
    EXPECT_EQ(entry.dataHost, c.date);
  }
}

TEST(NameFieldsEntry, FailsWithFewerThanThreeFields) {
  for (const char* name : {"README", "2024-03-05.core-sw1", ".", "a\nb.c"}) {
    SCOPED_TRACE(name);
    try {
      nameFieldsEntry(name);
      ADD_FAILURE() << "no failure";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::BadName);
      EXPECT_EQ(failure.message(),
                "o nome " + quotedName(name) + " não tem três campos separados por '.'");
    }
  }
  EXPECT_EQ(quotedName("a\nb.c"), "'a\\x0ab.c'");
}

TEST(HostFromWholeName, KeepsTheExtension) {
  EXPECT_EQ(hostFromWholeName(" sw1.cfg"), "SW1.CFG");
  EXPECT_EQ(hostFromWholeName("SW1"), hostFromWholeName("sw1"));
}

}  // namespace
}  // namespace bm
