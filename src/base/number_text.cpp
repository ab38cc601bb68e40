#include "base/number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace bm {
namespace {

// The shortest round-trip digits of a finite, positive value and the decimal exponent of the
// first one: value = d1.d2d3... * 10^exponent.
struct Decimal {
  char digits[20] = {};
  std::size_t count = 0;
  int exponent = 0;
};

Decimal shortestDigits(double value) {
  char text[kNumberTextSize];
  const char* end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
  const char* p = text;
  Decimal d;
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

}  // namespace

std::size_t writeNumberText(double value, char* out) {
  char* const start = out;
  if (std::isnan(value)) return static_cast<std::size_t>(put(out, "nan", 3) - start);
  if (std::signbit(value)) *out++ = '-';
  if (std::isinf(value)) return static_cast<std::size_t>(put(out, "inf", 3) - start);
  if (value == 0) return static_cast<std::size_t>(put(out, "0.0", 3) - start);
  const double magnitude = std::fabs(value);
  if (magnitude >= 1e-4 && magnitude < 1e16) {
    // The shortest fixed text has the same digits as the shortest scientific one: only a
    // whole number lacks its ".0".
    char* end =
        std::to_chars(out, start + kNumberTextSize, magnitude, std::chars_format::fixed).ptr;
    if (std::memchr(out, '.', static_cast<std::size_t>(end - out)) == nullptr) {
      end = put(end, ".0", 2);
    }
    return static_cast<std::size_t>(end - start);
  }
  out = exponentForm(shortestDigits(magnitude), out);
  return static_cast<std::size_t>(out - start);
}

std::string numberText(double value) {
  char text[kNumberTextSize];
  return std::string(text, writeNumberText(value, text));
}

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<int> decimalInRange(std::string_view text, int least, int most) {
  if (text.empty() || text.size() > std::to_string(most).size()) return std::nullopt;
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < least || value > most) return std::nullopt;
  return static_cast<int>(value);
}

}  // namespace bm
