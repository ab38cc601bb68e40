#include "catalogue/dates.hpp"

#include <algorithm>

#include "base/failure.hpp"

namespace bm {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

// Reads one or two digits at text[i].
std::optional<int> readSmallNumber(std::string_view text, std::size_t& i) {
  if (i >= text.size() || !isDigit(text[i])) return std::nullopt;
  int value = text[i++] - '0';
  if (i < text.size() && isDigit(text[i])) value = value * 10 + (text[i++] - '0');
  return value;
}

std::optional<int> readDay(std::string_view text, std::size_t& i) {
  if (i < text.size() && text[i] == ' ') {
    ++i;
    if (i >= text.size() || text[i] < '1' || text[i] > '9') return std::nullopt;
    return text[i++] - '0';
  }
  return readSmallNumber(text, i);
}

void appendPadded(std::string& out, int value, std::size_t width) {
  if (value < 0) {
    out += '-';
    value = -value;
  }
  char digits[12];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  if (count < width) out.append(width - count, '0');
  while (count > 0) out += digits[--count];
}

std::tm localTime(std::time_t when) {
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) {
    failSystem("localtime_r " + std::to_string(when), EOVERFLOW);
  }
  return local;
}

bool sameDayAndOffset(const std::tm& a, const std::tm& b) {
  return a.tm_year == b.tm_year && a.tm_yday == b.tm_yday && a.tm_gmtoff == b.tm_gmtoff;
}

// The civil date of a count of days since 1970-01-01 (proleptic Gregorian calendar).
CalendarDay civilFromDays(long long days) {
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long dayOfEra = days - era * 146097;
  const long long yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long shiftedMonth = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return CalendarDay{static_cast<int>(year), month, day};
}

long long floorDiv(long long a, long long b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

}  // namespace

std::optional<CalendarDay> parseDate(std::string_view text) {
  if (text.size() < 8) return std::nullopt;
  int year = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    if (!isDigit(text[k])) return std::nullopt;
    year = year * 10 + (text[k] - '0');
  }
  std::size_t i = 4;
  if (year < 1 || text[i++] != '-') return std::nullopt;
  const std::optional<int> month = readSmallNumber(text, i);
  if (!month || *month < 1 || *month > 12) return std::nullopt;
  if (i >= text.size() || text[i++] != '-') return std::nullopt;
  const std::optional<int> day = readDay(text, i);
  if (!day || *day < 1 || *day > daysInMonth(year, *month) || i != text.size()) {
    return std::nullopt;
  }
  return CalendarDay{year, *month, *day};
}

std::string formatDate(const CalendarDay& day) {
  if (day.year >= 0 && day.year <= 9999) {
    const auto digit = [](int value) { return static_cast<char>('0' + value % 10); };
    const char text[10] = {digit(day.year / 1000),
                           digit(day.year / 100),
                           digit(day.year / 10),
                           digit(day.year),
                           '-',
                           digit(day.month / 10),
                           digit(day.month),
                           '-',
                           digit(day.day / 10),
                           digit(day.day)};
    return std::string(text, sizeof text);
  }
  std::string out;
  out.reserve(10);
  appendPadded(out, day.year, 4);
  out += '-';
  appendPadded(out, day.month, 2);
  out += '-';
  appendPadded(out, day.day, 2);
  return out;
}

CalendarDay localDay(std::time_t when) {
  const std::tm local = localTime(when);
  return CalendarDay{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

const std::string& LocalDays::dateOf(std::time_t when) {
  const Span* span = spanOf(when);
  if (span == nullptr) {
    const std::tm local = localTime(when);
    // With one offset all day, the day is the 86400 seconds from its local midnight. Checking
    // both ends for the same day and offset leaves out the days of a daylight saving change.
    const std::time_t start =
        when - (local.tm_hour * 3600 + local.tm_min * 60 + std::min(local.tm_sec, 59));
    const std::time_t end = start + 86400;
    if (!sameDayAndOffset(localTime(start), local) ||
        !sameDayAndOffset(localTime(end - 1), local)) {
      dayKnown_ = false;
      date_ = formatDate({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday});
      return date_;
    }
    remember({start, end, local.tm_gmtoff});
    span = spanOf(when);
  }
  const long long day = floorDiv(static_cast<long long>(when) + span->offset, 86400);
  if (!dayKnown_ || day != day_) {
    date_ = formatDate(civilFromDays(day));
    day_ = day;
    dayKnown_ = true;
  }
  return date_;
}

const LocalDays::Span* LocalDays::spanOf(std::time_t when) const {
  auto after = std::upper_bound(spans_.begin(), spans_.end(), when,
                                [](std::time_t t, const Span& s) { return t < s.start; });
  if (after == spans_.begin()) return nullptr;
  const Span& span = *std::prev(after);
  return when < span.end ? &span : nullptr;
}

// Inserts a span that overlaps none, joining it to neighbours with the same offset that touch it.
void LocalDays::remember(Span span) {
  auto next = std::upper_bound(spans_.begin(), spans_.end(), span.start,
                               [](std::time_t t, const Span& s) { return t < s.start; });
  if (next != spans_.end() && next->start == span.end && next->offset == span.offset) {
    span.end = next->end;
    next = spans_.erase(next);
  }
  if (next != spans_.begin()) {
    Span& previous = *std::prev(next);
    if (previous.end == span.start && previous.offset == span.offset) {
      previous.end = span.end;
      return;
    }
  }
  spans_.insert(next, span);
}

}  // namespace bm
