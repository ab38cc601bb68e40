#include "catalogue/dates.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

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

TEST(LocalDay, UsesTheProcessTimeZoneNotUtc) {
  ::setenv("TZ", test::kTestZone, 1);
  ::tzset();
  // 23:30 local on 5 March is already 6 March in UTC.
  EXPECT_EQ(localDay(test::utcSeconds(2024, 3, 6, 2, 30)), (CalendarDay{2024, 3, 5}));
  EXPECT_EQ(localDay(test::utcSeconds(2024, 3, 6, 3, 0)), (CalendarDay{2024, 3, 6}));
}

}  // namespace
}  // namespace bm

namespace bm {
namespace {

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
    ::setenv("TZ", c.zone, 1);
    ::tzset();
    std::vector<std::time_t> times;
    for (std::time_t t = c.from; t < c.from + 4 * 86400; t += 7 * 60 + 13) times.push_back(t);
    std::vector<std::time_t> shuffled = times;
    std::reverse(shuffled.begin(), shuffled.end());
    std::rotate(shuffled.begin(), shuffled.begin() + shuffled.size() / 3, shuffled.end());
    LocalDays days;
    for (const auto& order : {times, shuffled}) {
      for (std::time_t t : order) {
        ASSERT_EQ(days.dateOf(t), formatDate(localDay(t))) << t;
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
    ::setenv("TZ", zone, 1);
    ::tzset();
    LocalDays days;
    for (int i = 0; i < 20000; ++i) {
      // Mostly a few hundred days, as a backup directory holds; now and then anywhere.
      const std::time_t t = i % 10 == 0 ? times(random) : 1700000000 + times(random) % 30000000;
      ASSERT_EQ(days.dateOf(t), formatDate(localDay(t))) << t;
    }
  }
}

}  // namespace
}  // namespace bm
