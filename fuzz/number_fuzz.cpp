// The number text on every double: it reads back as the same double and follows the layout.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/number_text.hpp"
#include "fuzz_check.hpp"

namespace {

bool digits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// -?D+.D+ without a superfluous leading zero, or -?D(.D*[1-9])?e[+-]DD[D].
bool laidOut(std::string_view text, bool positional) {
  if (!text.empty() && text[0] == '-') text.remove_prefix(1);
  if (positional) {
    const std::size_t point = text.find('.');
    if (point == std::string_view::npos) return false;
    const std::string_view whole = text.substr(0, point);
    return digits(whole) && (whole.size() == 1 || whole[0] != '0') &&
           digits(text.substr(point + 1));
  }
  const std::size_t e = text.find('e');
  if (e == std::string_view::npos || e + 4 > text.size()) return false;
  const std::string_view mantissa = text.substr(0, e);
  const std::string_view exponent = text.substr(e + 2);
  const bool mantissaOk = mantissa.size() == 1
                              ? digits(mantissa) && mantissa != "0"
                              : mantissa.size() > 2 && mantissa[1] == '.' &&
                                    digits(mantissa.substr(0, 1)) && mantissa[0] != '0' &&
                                    digits(mantissa.substr(2)) && mantissa.back() != '0';
  return mantissaOk && (text[e + 1] == '+' || text[e + 1] == '-') && digits(exponent) &&
         exponent.size() >= 2 && exponent.size() <= 3;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < sizeof(double)) return 0;
  double value;
  std::memcpy(&value, data, sizeof value);
  char text[bm::kNumberTextSize + 1];
  const std::size_t length = bm::writeNumberText(value, text);
  FUZZ_CHECK(length < sizeof text);
  text[length] = '\0';
  const std::string shown(text, length);
  FUZZ_CHECK(shown == bm::numberText(value));
  if (std::isnan(value)) {
    FUZZ_CHECK(shown == "nan" || shown == "-nan");
    return 0;
  }
  const double back = std::strtod(text, nullptr);
  FUZZ_CHECK(std::memcmp(&back, &value, sizeof value) == 0);
  if (std::isinf(value)) return 0;
  const double magnitude = std::fabs(value);
  FUZZ_CHECK(laidOut(shown, magnitude == 0 || (magnitude >= 1e-4 && magnitude < 1e16)));
  return 0;
}
