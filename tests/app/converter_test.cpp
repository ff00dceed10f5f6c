// SPDX-License-Identifier: MIT
// The two formulas, checked through the text a result line shows.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "app/converter.h"
#include "runtime/print/print.h"

namespace {

std::string shown(double value) {
  char buffer[DOUBLE_TEXT_BUFFER];
  return number_to_text(buffer, 16, true, value);
}

struct Conversion {
  double input;
  const char* expected;
};

TEST(Converter, FahrenheitToCelsiusRoundsLikeTheFixedFormula) {
  const Conversion cases[] = {
      {100, " 37.77777777777778"}, {212, " 100"}, {32, " 0"}, {-40, "-40"},
      {0, "-17.77777777777778"},
      {37.5, " 3.055555555555557"},   // (x - 32) * 5 / 9 would end in 5
      {-230, "-145.5555555555556"},   // (x - 32) * 5 / 9 would end in 5
  };
  for (const Conversion& c : cases) EXPECT_EQ(shown(fahrenheit_to_celsius(c.input)), c.expected) << c.input;
}

TEST(Converter, CelsiusToFahrenheitRoundsAfterEachStep) {
  const Conversion cases[] = {
      {0, " 32"}, {100, " 212"}, {-40, "-40"},
      {37, " 98.59999999999999"},     // x * 1.8 + 32 would give 98.60000000000001
      {25.5, " 77.90000000000001"}, {-49.5, "-57.09999999999999"},
      {1e308, " inf"},                // 9 * x overflows
  };
  for (const Conversion& c : cases) EXPECT_EQ(shown(celsius_to_fahrenheit(c.input)), c.expected) << c.input;
}

TEST(Converter, NaNPassesThrough) {
  EXPECT_TRUE(std::isnan(fahrenheit_to_celsius(std::nan(""))));
  EXPECT_TRUE(std::isnan(celsius_to_fahrenheit(std::nan(""))));
}

}  // namespace
