// The strict date parser: what it accepts is a real day whose "%Y-%m-%d" text reads back as
// the same day, and a text already in that form comes back unchanged.
#include <cstdint>
#include <string>

#include "catalogue/dates.hpp"
#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<bm::CalendarDay> day = bm::parseDate(text);
  if (!day) return 0;
  FUZZ_CHECK(day->year >= 1 && day->year <= 9999);
  FUZZ_CHECK(day->month >= 1 && day->month <= 12);
  FUZZ_CHECK(day->day >= 1 && day->day <= 31);
  const std::string canonical = bm::formatDate(*day);
  FUZZ_CHECK(canonical.size() == 10);
  FUZZ_CHECK(bm::parseDate(canonical) == day);
  if (text.size() == 10 && text.find(' ') == std::string::npos) FUZZ_CHECK(canonical == text);
  return 0;
}
