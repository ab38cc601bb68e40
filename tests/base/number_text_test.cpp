#include "base/number_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <regex>

namespace bm {
namespace {

TEST(NumberText, LayoutOfTypicalAndBoundaryValues) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {1700000000.0, "1700000000.0"},
      {0.5, "0.5"},
      {-3.25, "-3.25"},
      {86400.5, "86400.5"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {0.1, "0.1"},
      {1.0 / 3, "0.3333333333333333"},
      {1709692200.25, "1709692200.25"},
      {0.0001, "0.0001"},         // the smallest positional magnitude
      {0.00009999, "9.999e-05"},  // just below it
      {5e-05, "5e-05"},
      {-5e-05, "-5e-05"},
      {9999999999999998.0, "9999999999999998.0"},  // the largest below 1e16
      {1e16, "1e+16"},
      {1.5e16, "1.5e+16"},
      {-1e16, "-1e+16"},
      {1e22, "1e+22"},
      {123456789012345678.0, "1.2345678901234568e+17"},
      {1e100, "1e+100"},
      {5e-324, "5e-324"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {100.0, "100.0"},
      {0.001, "0.001"},
      {12.0625, "12.0625"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(numberText(c.value), c.text);
  }
}

TEST(NumberText, ReadsBackAsTheSameDoubleAndFollowsTheLayout) {
  static const std::regex positional(R"(-?(0|[1-9][0-9]*)\.[0-9]+)");
  static const std::regex exponent(R"(-?[1-9](\.[0-9]*[1-9])?e[-+][0-9]{2,3})");
  std::mt19937_64 random(20261208);
  std::uniform_int_distribution<int> exponents(-30, 30);
  std::uniform_real_distribution<double> mantissas(-10, 10);
  for (int i = 0; i < 20000; ++i) {
    const double value = mantissas(random) * std::pow(10.0, exponents(random));
    const std::string text = numberText(value);
    SCOPED_TRACE(text);
    ASSERT_EQ(std::strtod(text.c_str(), nullptr), value);
    const double magnitude = std::fabs(value);
    const bool wantPositional = magnitude >= 1e-4 && magnitude < 1e16;
    ASSERT_TRUE(std::regex_match(text, wantPositional ? positional : exponent));
  }
}

}  // namespace
}  // namespace bm
