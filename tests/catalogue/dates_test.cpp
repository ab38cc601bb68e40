#include "catalogue/dates.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

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
