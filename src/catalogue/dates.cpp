#include "catalogue/dates.hpp"

#include <cerrno>

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

void appendPadded(std::string& out, long long value, std::size_t width) {
  if (value < 0) out += '-';
  // Negated digit by digit, so that no value overflows.
  char digits[20];
  std::size_t count = 0;
  do {
    const long long digit = value % 10;
    digits[count++] = static_cast<char>('0' + (digit < 0 ? -digit : digit));
    value /= 10;
  } while (value != 0);
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

// Years beyond int's range (tm_year near its limits) are written in full, as strftime does.
std::string formatDate(long long year, int month, int day) {
  if (year >= 0 && year <= 9999) {
    const auto digit = [](long long value) { return static_cast<char>('0' + value % 10); };
    const char text[10] = {digit(year / 1000),
                           digit(year / 100),
                           digit(year / 10),
                           digit(year),
                           '-',
                           digit(month / 10),
                           digit(month),
                           '-',
                           digit(day / 10),
                           digit(day)};
    return std::string(text, sizeof text);
  }
  std::string out;
  out.reserve(24);
  appendPadded(out, year, 4);
  out += '-';
  appendPadded(out, month, 2);
  out += '-';
  appendPadded(out, day, 2);
  return out;
}

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

std::string formatDate(const CalendarDay& day) { return formatDate(day.year, day.month, day.day); }

const std::string& LocalDays::dateOf(std::time_t when) {
  const std::tm local = localTime(when);
  if (local.tm_year != year_ || local.tm_yday != yearDay_) {
    date_ = formatDate(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday);
    year_ = local.tm_year;
    yearDay_ = local.tm_yday;
  }
  return date_;
}

}  // namespace bm
