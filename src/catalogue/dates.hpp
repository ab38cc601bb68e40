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

// The calendar day of a time stamp in the process's local time zone.
CalendarDay localDay(std::time_t when);

// localDay for many time stamps: remembers the bounds of the last day it converted, so that a
// directory's files, mostly from a few days, cost one conversion per day. Days in which the UTC
// offset changes (daylight saving) are never remembered: each of their times is converted alone.
class LocalDays {
 public:
  // The day as "%Y-%m-%d".
  const std::string& dateOf(std::time_t when);

 private:
  std::time_t start_ = 0;
  std::time_t end_ = 0;  // [start_, end_) is the remembered day; empty when none is
  std::string date_;
};

}  // namespace bm
