// SPDX-License-Identifier: MIT
// Number formatting as print_double shows it.
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/print/print.h"

namespace {

std::string format(double value, int digits = 16, bool sign_blank = true) {
  char buffer[80];
  return number_to_text(buffer, digits, sign_blank, value);
}

TEST(NumberToText, SixteenDigitsWithSignBlank) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {37.77777777777778, " 37.77777777777778"},
      {-40, "-40"},
      {0.0, " 0"},
      {-0.0, "-0"},
      {100, " 100"},
      {1e15, " 1000000000000000"},
      {1e16, " 1e+16"},
      {1.23456789012345678e17, " 1.234567890123457e+17"},
      {0.0001, " 0.0001"},
      {0.00001, " 1e-05"},
      {1.0 / 3.0, " 0.3333333333333333"},
      {std::numeric_limits<double>::denorm_min(), " 4.940656458412465e-324"},
      {-std::numeric_limits<double>::max(), "-1.797693134862316e+308"},
      {std::numeric_limits<double>::infinity(), " inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {std::nan(""), " nan"},
      {-std::nan(""), "-nan"},
  };
  for (const auto& c : cases) EXPECT_EQ(format(c.value), c.text);
}

TEST(NumberToText, OtherDigitCountsAndNoSignBlank) {
  EXPECT_EQ(format(1.0 / 3.0, 7), " 0.3333333");
  EXPECT_EQ(format(16777216, 7), " 1.677722e+07");
  EXPECT_EQ(format(1.0 / 3.0, 7, false), "0.3333333");
  EXPECT_EQ(format(2.5, 1), " 2");
  EXPECT_EQ(format(123456, 3, false), "1.23e+05");
}

TEST(NumberToText, LongestResultFitsTheDoubleBuffer) {
  char buffer[DOUBLE_TEXT_BUFFER];
  const std::string text = number_to_text(buffer, 16, true, -1.234567890123456e-300);
  EXPECT_EQ(text, "-1.234567890123456e-300");
  EXPECT_LT(text.size(), DOUBLE_TEXT_BUFFER);
}

}  // namespace

namespace {

std::string printf_text(double value, int digits) {
  char buffer[80];
  std::snprintf(buffer + 1, sizeof buffer - 1, "%.*g", digits, value);
  if (buffer[1] == '-') return buffer + 1;
  buffer[0] = ' ';
  return buffer;
}

// The values where shortest-digit and rounding logic usually goes wrong.
std::vector<double> edge_values() {
  using limits = std::numeric_limits<double>;
  std::vector<double> values = {0.0, -0.0, limits::denorm_min(), -limits::denorm_min(),
                                limits::min(), std::nextafter(limits::min(), 0.0), limits::max(),
                                limits::lowest(), limits::infinity(), -limits::infinity(),
                                std::nan(""), -std::nan(""), 9.9999999999999995, 0.99999999999999995,
                                99999999999999.995, 9.999999999999999e22, 1e16, 1e-5};
  for (int exponent = -320; exponent <= 308; ++exponent) {
    const double power = std::strtod(("1e" + std::to_string(exponent)).c_str(), nullptr);
    for (double v : {power, std::nextafter(power, 0.0), std::nextafter(power, limits::infinity())}) {
      values.push_back(v);
      values.push_back(-v);
    }
  }
  return values;
}

TEST(NumberToText, EqualsPrintfOnEdgeValuesAndSeededRandomBitPatterns) {
  char buffer[DOUBLE_TEXT_BUFFER];
  for (double value : edge_values()) {
    ASSERT_EQ(number_to_text(buffer, 16, true, value), printf_text(value, 16)) << std::hexfloat << value;
    ASSERT_EQ(number_to_text(buffer, 7, true, value), printf_text(value, 7)) << std::hexfloat << value;
  }
  // Any bit pattern, and every other one with an exponent near the values people convert.
  std::mt19937_64 random(20261207);
  for (int i = 0; i < 2'000'000; ++i) {
    uint64_t bits = random();
    if (i % 2 == 1) bits = (bits & 0x800FFFFFFFFFFFFF) | (uint64_t{1023 - 200 + bits % 400} << 52);
    const double value = std::bit_cast<double>(bits);
    const int digits = i % 16 == 0 ? 7 : 16;
    ASSERT_EQ(number_to_text(buffer, digits, true, value), printf_text(value, digits)) << std::hexfloat << value;
  }
}

}  // namespace
