#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace bm {

// The shortest decimal text that reads back as the same double, always with a decimal point in
// positional form ("1700000000.0", "0.5", "-3.25"); exponent form only below 1e-4 or from 1e16
// on, with a sign and at least two exponent digits ("5e-05", "1.5e+16").
std::string numberText(double value);

// The same text written into out, which holds at least kNumberTextSize bytes; returns its length.
inline constexpr std::size_t kNumberTextSize = 32;
std::size_t writeNumberText(double value, char* out);

// The value of one hexadecimal digit, either case; -1 for any other character.
int hexDigitValue(char c);

// A whole number from least to most written in decimal digits only, no more of them than most
// has: no sign, no blank, nothing after. Nothing for any other text.
std::optional<int> decimalInRange(std::string_view text, int least, int most);

}  // namespace bm
