// SPDX-License-Identifier: MIT
// The exact conversions against a slow reference computed with plain big
// integers (tests/support/exact_reference): worked values, the ties of
// half-even rounding, the layout edges of %g, rejected values, and a seeded
// sample of values across every pair of scales and digit count.
#include <cstdint>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "app/exact.h"
#include "tests/support/exact_reference.h"

namespace {

constexpr Scale C = Scale::Celsius, F = Scale::Fahrenheit, K = Scale::Kelvin, R = Scale::Rankine;
constexpr Scale Re = Scale::Reaumur, Ro = Scale::Romer, De = Scale::Delisle, N = Scale::Newton;

std::string converted(std::string_view value, Scale from, Scale to, int digits) {
  std::string out;
  const ValueError error = convert_exact(value, from, to, digits, &out);
  return error == ValueError::None ? out : std::string("error: ") + value_error_text(error);
}

TEST(ExactConversion, AgreesWithTheIntegerReference) {
  const struct {
    const char* value;
    Scale from, to;
    int digits;
    const char* expected;  // nullptr: the reference alone
    bool huge = false;     // beyond what the slow reference computes in good time: the expected text alone
  } cases[] = {
      {"37", C, F, 15, "98.6"},
      {"100", F, C, 15, "37.7777777777778"},
      {"32.1", F, C, 15, "0.0555555555555556"},
      {"100", F, C, 30, "37.7777777777777777777777777778"},
      {"212", F, C, 15, "100"},
      {"-40", C, F, 15, "-40"},
      {"0", K, C, 15, "-273.15"},
      {"-273.15", C, K, 15, "0"},
      {"-459.67", F, R, 15, "0"},
      {"0", R, F, 15, "-459.67"},
      {"98.6", F, K, 15, "310.15"},
      {"1e-9999", K, C, 30, "-273.15", true},
      {"1e9999", K, R, 15, "1.8e+9999", true},
      // Ties, half to even, in the digits as written and after a division by 9.
      {"0.125", C, C, 2, "0.12"},
      {"0.135", C, C, 2, "0.14"},
      {"2.5", K, K, 1, "2"},
      {"3.5", K, K, 1, "4"},
      {"32.45", F, C, 1, "0.2"},  // exactly 0.25
      {"32.63", F, C, 2, "0.35"},
      {"0.000045", C, F, 2, nullptr},
      {"1.25100000000000000000", C, C, 2, "1.3"},  // past the 128-bit path: the digit after the 5 decides
      // The 128-bit path's largest exponent with its longest mantissa, and one past it.
      {"9999999999999999999e16", C, F, 30, nullptr},
      {"9999999999999999999e17", C, F, 30, nullptr},
      {"98765432109876543210", C, F, 30, nullptr},  // 20 digits: past the 128-bit path
      // The layout of %g: the exponent form below 1e-4 and from 10^digits.
      {"0.0001", C, C, 15, "0.0001"},
      {"0.00001", C, C, 15, "1e-05"},
      {"0.000015", C, C, 15, "1.5e-05"},
      {"1e14", C, C, 15, "100000000000000"},
      {"1e15", C, C, 15, "1e+15"},
      {"999.5", C, C, 3, "1e+03"},
      {"99.95", C, C, 3, "100"},
      {"1e100", C, C, 15, "1e+100"},
      {"-0", C, C, 15, "0"},
      {"-0.000e-5", C, C, 15, "0"},
      {"+5.", C, C, 15, "5"},
      {".5", C, C, 15, "0.5"},
      {"1.2300", C, C, 15, "1.23"},
      {"9.99999e9999", K, K, 1, "1e+10000", true},
      // The historical scales, against the fixed points of a conversion table.
      {"100", C, Re, 15, "80"},
      {"100", C, Ro, 15, "60"},
      {"100", C, De, 15, "0"},  // Delisle runs backwards: 0 is the boiling point
      {"100", C, N, 15, "33"},
      {"0", C, Ro, 15, "7.5"},
      {"0", C, De, 15, "150"},
      {"0", K, Re, 15, "-218.52"},
      {"0", K, Ro, 15, "-135.90375"},
      {"0", K, De, 15, "559.725"},
      {"0", K, N, 15, "-90.1395"},
      {"37", C, Ro, 15, "26.925"},
      {"60", Ro, N, 15, "33"},
      {"1", N, Ro, 30, "9.09090909090909090909090909091"},  // 7.5 + 21/40 x 100/33
      {"559.725", De, K, 15, "0"},
      {"1e9999", N, Ro, 15, "1.59090909090909e+9999", true},
      {"9999999999999999999e16", N, Ro, 30, nullptr},  // a factor of 35 past 128 bits: the decimal path
      {"-9999999999999999999e16", De, Ro, 30, nullptr},
  };
  for (const auto& c : cases) {
    const std::string result = converted(c.value, c.from, c.to, c.digits);
    if (!c.huge) {
      EXPECT_EQ(result, reference_convert(c.value, c.from, c.to, c.digits).value_or("error")) << c.value;
    }
    if (c.expected != nullptr) {
      EXPECT_EQ(result, c.expected) << c.value;
    }
  }
}

TEST(ExactConversion, RejectsWhatIsNotAPlainDecimalOrIsColderThanAbsoluteZero) {
  const struct {
    const char* value;
    Scale from;
    ValueError error;
  } cases[] = {
      {"", C, ValueError::NotANumber},        {"abc", C, ValueError::NotANumber},
      {".", C, ValueError::NotANumber},       {"1e", C, ValueError::NotANumber},
      {"e5", C, ValueError::NotANumber},      {"1..2", C, ValueError::NotANumber},
      {"+-1", C, ValueError::NotANumber},     {" 1", C, ValueError::NotANumber},
      {"1 ", C, ValueError::NotANumber},      {"0x10", C, ValueError::NotANumber},
      {"inf", C, ValueError::NotANumber},     {"nan", C, ValueError::NotANumber},
      {"1d5", C, ValueError::NotANumber},     {"&H10", C, ValueError::NotANumber},
      {"1e+", C, ValueError::NotANumber},     {"1e10000", C, ValueError::ExponentOutOfRange},
      {"1e-10000", C, ValueError::ExponentOutOfRange},
      {"-273.16", C, ValueError::BelowAbsoluteZero}, {"-459.68", F, ValueError::BelowAbsoluteZero},
      {"-1e-9999", K, ValueError::BelowAbsoluteZero}, {"-0.01", R, ValueError::BelowAbsoluteZero},
      {"-218.53", Re, ValueError::BelowAbsoluteZero}, {"-135.90376", Ro, ValueError::BelowAbsoluteZero},
      {"559.726", De, ValueError::BelowAbsoluteZero}, {"-90.14", N, ValueError::BelowAbsoluteZero},
      {"1e9999", De, ValueError::BelowAbsoluteZero},  // hotter is lower: a huge Delisle value is colder than 0 K
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(convert_exact(c.value, c.from, K, 15, &out), c.error) << c.value;
    EXPECT_EQ(reference_convert(c.value, c.from, K, 15), std::nullopt) << c.value;
  }
  EXPECT_EQ(converted("1e0009999", K, K, 1), "1e+9999");  // leading zeros in the exponent
  std::string tiny;  // a negative value that rounds to nothing, on the decimal path: "0", not "-0"
  convert_exact("-6E-54", F, F, Precision{Precision::Kind::Places, 24}, &tiny);
  EXPECT_EQ(tiny, "0.000000000000000000000000");
}

TEST(ExactConversion, SeededValuesAcrossEveryPairOfScales) {
  std::mt19937 random(20261207);
  for (int i = 0; i < 6000; ++i) {
    std::string value = random() % 4 == 0 ? "-" : "";
    const int digits = 1 + static_cast<int>(random() % 20);
    const int point = static_cast<int>(random() % (digits + 1));
    for (int d = 0; d < digits; ++d) {
      if (d == point && d != 0) value += '.';
      value += static_cast<char>('0' + (d == 0 && digits > 1 ? 1 + random() % 9 : random() % 10));
    }
    if (random() % 3 == 0) value += "e" + std::to_string(static_cast<int>(random() % 41) - 20);
    const Scale from = kScales[random() % kScaleCount].scale, to = kScales[random() % kScaleCount].scale;
    // Significant digits 1 to 30, or places 0 to 30.
    const bool places = random() % 3 == 0;
    const Precision precision{places ? Precision::Kind::Places : Precision::Kind::Significant,
                              places ? static_cast<int>(random() % 31) : 1 + static_cast<int>(random() % 30)};
    std::string out;
    const ValueError error = convert_exact(value, from, to, precision, &out);
    EXPECT_EQ(error == ValueError::None ? out : "error: below absolute zero",
              reference_convert(value, from, to, precision).value_or("error: below absolute zero"))
        << value << " " << static_cast<int>(from) << "->" << static_cast<int>(to) << (places ? " places " : " digits ")
        << precision.count;
  }
}

}  // namespace
