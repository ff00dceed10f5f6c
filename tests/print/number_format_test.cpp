// Number formatting as print_double shows it.
#include <cmath>
#include <limits>
#include <string>

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
