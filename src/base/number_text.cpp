#include "base/number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace bm {
namespace {

struct Decimal {
  bool negative;
  std::string digits;  // shortest significant digits, no point
  int exponent;        // of the first digit: value = 0.d1d2... * 10^(exponent + 1)
};

Decimal shortestDigits(double value) {
  char text[64];
  auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
  std::string_view s(text, static_cast<std::size_t>(result.ptr - text));
  Decimal d{false, {}, 0};
  if (s.front() == '-') {
    d.negative = true;
    s.remove_prefix(1);
  }
  const std::size_t e = s.find('e');
  for (char c : s.substr(0, e)) {
    if (c != '.') d.digits += c;
  }
  std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), d.exponent);
  return d;
}

std::string exponentForm(const Decimal& d) {
  std::string out = d.negative ? "-" : "";
  out += d.digits[0];
  if (d.digits.size() > 1) {
    out += '.';
    out.append(d.digits, 1);
  }
  out += d.exponent < 0 ? "e-" : "e+";
  const int magnitude = std::abs(d.exponent);
  if (magnitude < 10) out += '0';
  out += std::to_string(magnitude);
  return out;
}

std::string positionalForm(const Decimal& d) {
  std::string out = d.negative ? "-" : "";
  if (d.exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
    out += d.digits;
    return out;
  }
  const auto whole = static_cast<std::size_t>(d.exponent) + 1;
  if (d.digits.size() <= whole) {
    out += d.digits;
    out.append(whole - d.digits.size(), '0');
    out += ".0";
  } else {
    out.append(d.digits, 0, whole);
    out += '.';
    out.append(d.digits, whole);
  }
  return out;
}

}  // namespace

std::string numberText(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";
  const Decimal d = shortestDigits(value);
  if (d.exponent < -4 || d.exponent >= 16) return exponentForm(d);
  return positionalForm(d);
}

}  // namespace bm
