#include "catalogue/dates.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <vector>

#include "base/failure.hpp"
#include "support/scoped.hpp"
#include "support/temp_dir.hpp"

namespace bm {
namespace {

TEST(ParseDate, AcceptsTheStrictFormOnly) {
  const struct {
    const char* text;
    std::optional<CalendarDay> day;
  } cases[] = {
      {"2024-03-05", CalendarDay{2024, 3, 5}},
      {"2024-3-5", CalendarDay{2024, 3, 5}},
      {"2024-3-05", CalendarDay{2024, 3, 5}},
      {"2024-03- 5", CalendarDay{2024, 3, 5}},
      {"0001-01-01", CalendarDay{1, 1, 1}},
      {"9999-12-31", CalendarDay{9999, 12, 31}},
      {"2024-02-29", CalendarDay{2024, 2, 29}},
      {"2000-02-29", CalendarDay{2000, 2, 29}},
      {"0000-01-01", std::nullopt},
      {"24-03-05", std::nullopt},
      {"02024-03-05", std::nullopt},
      {"+024-03-05", std::nullopt},
      {"abcd-01-01", std::nullopt},
      {"2024-13-01", std::nullopt},
      {"2024-00-10", std::nullopt},
      {"2024-003-01", std::nullopt},
      {"2024- 3-05", std::nullopt},
      {"2024-02-30", std::nullopt},
      {"2023-02-29", std::nullopt},
      {"1900-02-29", std::nullopt},
      {"2024-04-31", std::nullopt},
      {"2024-03-00", std::nullopt},
      {"2024-03- 0", std::nullopt},
      {"2024-03-  5", std::nullopt},
      {"2024-03-005", std::nullopt},
      {"2024-03-", std::nullopt},
      {"2024-03", std::nullopt},
      {"", std::nullopt},
      {" 2024-03-05", std::nullopt},
      {"2024-03-05 ", std::nullopt},
      {"2024-03-05T10:00", std::nullopt},
      {"2024/03/05", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("'") + c.text + "'");
    EXPECT_EQ(parseDate(c.text), c.day);
  }
}

TEST(FormatDate, PadsYearMonthAndDay) {
  EXPECT_EQ(formatDate({1, 1, 5}), "0001-01-05");
  EXPECT_EQ(formatDate({2024, 3, 5}), "2024-03-05");
  EXPECT_EQ(formatDate({2024, 12, 31}), "2024-12-31");
}

TEST(LocalDays, UsesTheProcessTimeZoneNotUtc) {
  const test::ScopedVariable zone("TZ", test::kTestZone);
  LocalDays days;
  // 23:30 local on 5 March is already 6 March in UTC.
  EXPECT_EQ(days.dateOf(test::utcSeconds(2024, 3, 6, 2, 30)), "2024-03-05");
  EXPECT_EQ(days.dateOf(test::utcSeconds(2024, 3, 6, 3, 0)), "2024-03-06");
}

}  // namespace
}  // namespace bm

namespace bm {
namespace {

// The local day as localtime_r gives it, written out with a four-digit (or longer) year.
std::string reference(std::time_t t) {
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return "localtime_r failed";
  const long long year = local.tm_year + 1900LL;
  char text[40];
  std::snprintf(text, sizeof text, "%s%04lld-%02d-%02d", year < 0 ? "-" : "",
                year < 0 ? -year : year, local.tm_mon + 1, local.tm_mday);
  return text;
}

void putBigEndian(std::string& out, std::int32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out += static_cast<char>((static_cast<std::uint32_t>(value) >> shift) & 0xFF);
  }
}

// A TZif zone at UTC with two leap seconds, as the right/ zones have 27: its time stamps count
// the leap seconds, so its midnights are not multiples of 86400.
std::string writeLeapSecondZone(const test::TempDir& dir) {
  std::string tzif = "TZif";
  tzif.append(16, '\0');  // version 1, reserved
  for (const std::int32_t count : {0, 0, 2, 0, 1, 4}) putBigEndian(tzif, count);  // leaps: 2
  putBigEndian(tzif, 0);  // the one type: UTC+0
  tzif += '\0';
  tzif += '\0';
  tzif.append("LSZ", 4);
  for (const std::int32_t leap : {78796800, 1, 94694401, 2}) putBigEndian(tzif, leap);
  const std::string path = dir / "leap-seconds";
  std::ofstream(path, std::ios::binary) << tzif;
  return path;
}

// Where the local day is not the UTC day shifted by one offset, every time still gets the day
// localtime_r gives: leap seconds, two offset changes inside one day, the limits of the calendar.
TEST(LocalDays, IsWhatLocaltimeGivesWhereNoArithmeticIs) {
  test::TempDir dir;
  std::vector<std::time_t> nearMidnights;
  for (std::time_t midnight = 94694400; midnight < 94694400 + 5 * 86400; midnight += 86400) {
    for (std::time_t t = midnight - 40; t < midnight + 40; ++t) nearMidnights.push_back(t);
  }
  const struct {
    std::string zone;
    std::vector<std::time_t> times;  // in this order
  } cases[] = {
      {writeLeapSecondZone(dir), nearMidnights},
      // Summer time for forty minutes, from 23:10 to 23:50 UTC on 10 April: local time passes
      // midnight into 11 April and comes back to 10 April. A file at 23:20 UTC is on 11 April.
      {"AAA0BBB-1,J100/23:10:00,J100/24:50:00",
       {test::utcSeconds(2026, 4, 10, 0, 10), test::utcSeconds(2026, 4, 10, 23, 20)}},
      {"UTC0", {67768036191676799, -67768040609740800, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zone);
    const test::ScopedVariable zone("TZ", c.zone);
    LocalDays days;
    for (std::time_t t : c.times) ASSERT_EQ(days.dateOf(t), reference(t)) << t;
  }
  EXPECT_EQ(LocalDays().dateOf(67768036191676799), "2147485547-12-31");
  EXPECT_EQ(LocalDays().dateOf(-67768040609740800), "-2147481748-01-01");
  // Beyond them localtime_r cannot represent the year: a failure, never a made-up date.
  for (const std::time_t t : {67768036191676800, -67768040609740801}) {
    try {
      LocalDays().dateOf(t);
      ADD_FAILURE() << t << " has a date";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.message(),
                "localtime_r " + std::to_string(t) + ": Value too large for defined data type");
    }
  }
}

// The remembered day must never outlive a change of UTC offset, wherever the change falls.
TEST(LocalDays, AgreesWithLocalDayAcrossDaylightSavingChanges) {
  const struct {
    const char* zone;
    std::time_t from;
  } cases[] = {
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1711760000},            // Europe, spring 2024
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1729900000},            // Europe, autumn 2024
      {"<-03>3<-02>,M11.1.0/0,M2.3.0/0", 1730520000},        // changes at midnight: 00:00 -> 01:00
      {"<-03>3<-02>,M11.1.0/0,M2.3.0/0", 1739660000},        // and back to 23:00 the day before
      {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", 1712400000},  // a half-hour change
      {test::kTestZone, 1709600000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zone);
    const test::ScopedVariable zone("TZ", c.zone);
    std::vector<std::time_t> times;
    for (std::time_t t = c.from; t < c.from + 4 * 86400; t += 7 * 60 + 13) times.push_back(t);
    std::vector<std::time_t> shuffled = times;
    std::reverse(shuffled.begin(), shuffled.end());
    std::rotate(shuffled.begin(), shuffled.begin() + shuffled.size() / 3, shuffled.end());
    LocalDays days;
    for (const auto& order : {times, shuffled}) {
      for (std::time_t t : order) {
        ASSERT_EQ(days.dateOf(t), reference(t)) << t;
      }
    }
  }
}

TEST(LocalDays, AgreesWithLocalDayOverDecadesInAnyOrder) {
  std::mt19937_64 random(8122026);
  std::uniform_int_distribution<std::time_t> times(-500000000, 3000000000);
  for (const char* zone :
       {"CET-1CEST,M3.5.0,M10.5.0/3", "<-03>3<-02>,M11.1.0/0,M2.3.0/0", "<+0545>-5:45", "UTC0"}) {
    SCOPED_TRACE(zone);
    const test::ScopedVariable scoped("TZ", zone);
    LocalDays days;
    for (int i = 0; i < 20000; ++i) {
      // Mostly a few hundred days, as a backup directory holds; now and then anywhere.
      const std::time_t t = i % 10 == 0 ? times(random) : 1700000000 + times(random) % 30000000;
      ASSERT_EQ(days.dateOf(t), reference(t)) << t;
    }
  }
}

}  // namespace
}  // namespace bm
