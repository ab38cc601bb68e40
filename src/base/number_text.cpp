#include "base/number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace bm {
namespace {

// The shortest round-trip digits of a finite, non-zero value and the decimal exponent of the
// first one: value = d1.d2d3... * 10^exponent.
struct Decimal {
  bool negative = false;
  char digits[20] = {};
  std::size_t count = 0;
  int exponent = 0;
};

Decimal shortestDigits(double value) {
  char text[kNumberTextSize];
  const char* end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
  const char* p = text;
  Decimal d;
  if (*p == '-') {
    d.negative = true;
    ++p;
  }
  for (; *p != 'e'; ++p) {
    if (*p != '.') d.digits[d.count++] = *p;
  }
  ++p;  // 'e'
  const bool negativeExponent = *p++ == '-';
  for (; p < end; ++p) d.exponent = d.exponent * 10 + (*p - '0');
  if (negativeExponent) d.exponent = -d.exponent;
  return d;
}

char* put(char* out, const char* text, std::size_t size) {
  std::memcpy(out, text, size);
  return out + size;
}

char* exponentForm(const Decimal& d, char* out) {
  *out++ = d.digits[0];
  if (d.count > 1) {
    *out++ = '.';
    out = put(out, d.digits + 1, d.count - 1);
  }
  *out++ = 'e';
  *out++ = d.exponent < 0 ? '-' : '+';
  const int magnitude = std::abs(d.exponent);
  if (magnitude < 10) *out++ = '0';
  return std::to_chars(out, out + 4, magnitude).ptr;
}

char* positionalForm(const Decimal& d, char* out) {
  if (d.exponent < 0) {
    out = put(out, "0.", 2);
    const auto zeros = static_cast<std::size_t>(-d.exponent - 1);
    std::memset(out, '0', zeros);
    return put(out + zeros, d.digits, d.count);
  }
  const auto whole = static_cast<std::size_t>(d.exponent) + 1;
  if (d.count <= whole) {
    out = put(out, d.digits, d.count);
    std::memset(out, '0', whole - d.count);
    return put(out + (whole - d.count), ".0", 2);
  }
  out = put(out, d.digits, whole);
  *out++ = '.';
  return put(out, d.digits + whole, d.count - whole);
}

}  // namespace

std::size_t writeNumberText(double value, char* out) {
  char* const start = out;
  if (std::isnan(value)) return static_cast<std::size_t>(put(out, "nan", 3) - start);
  if (std::signbit(value)) *out++ = '-';
  if (std::isinf(value)) return static_cast<std::size_t>(put(out, "inf", 3) - start);
  if (value == 0) return static_cast<std::size_t>(put(out, "0.0", 3) - start);
  Decimal d = shortestDigits(std::fabs(value));
  out = d.exponent < -4 || d.exponent >= 16 ? exponentForm(d, out) : positionalForm(d, out);
  return static_cast<std::size_t>(out - start);
}

std::string numberText(double value) {
  char text[kNumberTextSize];
  return std::string(text, writeNumberText(value, text));
}

}  // namespace bm
