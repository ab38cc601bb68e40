// The local days of random times in random POSIX time zone rules (two changes a year, anywhere in
// the year, from one minute to days apart) are what localtime_r gives, in any order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "base/failure.hpp"
#include "catalogue/dates.hpp"
#include "fuzz_check.hpp"

namespace {

std::string reference(std::time_t t) {
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return "";
  const long long year = local.tm_year + 1900LL;
  char text[40];
  std::snprintf(text, sizeof text, "%s%04lld-%02d-%02d", year < 0 ? "-" : "",
                year < 0 ? -year : year, local.tm_mon + 1, local.tm_mday);
  return text;
}

// "AAA<h>BBB<h>,J<day>/<h>:<m>,J<day>/<h>:<m>" from six bytes.
std::string zone(const std::uint8_t* b) {
  char text[96];
  std::snprintf(text, sizeof text, "AAA%dBBB%d,J%d/%d:%02d,J%d/%d:%02d", b[0] % 25 - 12,
                b[1] % 25 - 12, b[2] % 365 + 1, b[3] % 48, b[3] % 60, b[4] % 365 + 1, b[5] % 48,
                b[5] % 60);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  ::setenv("TZ", zone(data).c_str(), 1);
  ::tzset();
  bm::LocalDays days;
  for (std::size_t i = 6; i + 8 <= size; i += 8) {
    std::int64_t raw = 0;
    for (int k = 0; k < 8; ++k) raw = (raw << 8) | data[i + static_cast<std::size_t>(k)];
    // Mostly within a few days of each other, now and then anywhere a time_t reaches.
    const std::time_t t = (raw & 1) != 0 ? static_cast<std::time_t>(raw)
                                         : 1700000000 + static_cast<std::time_t>(raw % 400000);
    const std::string expected = reference(t);
    try {
      FUZZ_CHECK(days.dateOf(t) == expected);
    } catch (const bm::Failure&) {
      FUZZ_CHECK(expected.empty());
    }
  }
  return 0;
}
