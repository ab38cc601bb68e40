#pragma once

#include <compare>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The calendar day of a time stamp in the process's local time zone.
CalendarDay localDay(std::time_t when);

// localDay for many time stamps, as "%Y-%m-%d". It remembers the spans of time over which it has
// seen the UTC offset stay the same, a whole local day at a time, so that a directory's files
// cost one conversion per distinct day and then only arithmetic. Days in which the offset changes
// (daylight saving) are never remembered: each of their times is converted alone.
class LocalDays {
 public:
  const std::string& dateOf(std::time_t when);

 private:
  struct Span {
    std::time_t start;
    std::time_t end;  // exclusive
    long offset;      // seconds east of UTC
  };

  const Span* spanOf(std::time_t when) const;
  void remember(Span span);

  std::vector<Span> spans_;  // sorted, disjoint
  long long day_ = 0;        // days since 1970-01-01 of date_, when dayKnown_
  bool dayKnown_ = false;
  std::string date_;
};

}  // namespace bm
