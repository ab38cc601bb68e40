#pragma once

#include <compare>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace bm {

struct CalendarDay {
  int year;
  int month;
  int day;
  auto operator<=>(const CalendarDay&) const = default;
};

// A "%Y-%m-%d" date read strictly: exactly four year digits from 0001, a month 1-12 in one or
// two digits, a day in one or two digits or a blank and one digit, a day that exists, and
// nothing before or after.
std::optional<CalendarDay> parseDate(std::string_view text);

// "%Y-%m-%d" with a four-digit year: 0001-01-05, never 1-01-05.
std::string formatDate(const CalendarDay& day);

// The local calendar day of many time stamps, as "%Y-%m-%d": always what localtime_r gives, in
// the process's time zone. Each time is converted (leap seconds, several offset changes in one
// day and the limits of the calendar make any arithmetic short cut wrong somewhere), which costs
// tens of nanoseconds; the text of the last day is kept, since a directory's files share days.
// Fails where localtime_r cannot represent the time.
class LocalDays {
 public:
  const std::string& dateOf(std::time_t when);

 private:
  int year_ = 0;  // tm_year and tm_yday of date_
  int yearDay_ = -1;
  std::string date_;
};

}  // namespace bm
