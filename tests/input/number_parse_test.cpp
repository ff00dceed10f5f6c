// SPDX-License-Identifier: MIT
// Numeric field reads and the text-to-number routines.
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "runtime/core/core.h"
#include "runtime/input/input_internal.h"
#include "tests/support/capture.h"

namespace {

int64_t read_int(const std::string& line) {
  RedirectedInput in(line + "\n");
  int64_t value = 12345;
  read_int64_field(&value);
  return value;
}

double read_double(const std::string& line) {
  RedirectedInput in(line + "\n");
  double value = 12345;
  read_double_field(&value);
  return value;
}

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(FieldReads, TableOfTypedFields) {
  const struct {
    std::string typed;
    int64_t integer;
    double real;
  } cases[] = {
      {"", 0, 0.0},
      {"1", 1, 1.0},
      {"  2  ", 2, 2.0},
      {"+7", 7, 7.0},
      {"-3", -3, -3.0},
      {"1.5", 2, 1.5},
      {"2.5", 2, 2.5},
      {"3.5", 4, 3.5},
      {"-2.5", -2, -2.5},
      {"0.5", 0, 0.5},
      {"1.4", 1, 1.4},
      {"1e2", 100, 100.0},
      {"1d2", 100, 100.0},
      {"1E", 1, 1.0},
      {"&H1F", 31, 31.0},
      {"&h1f", 31, 31.0},
      {"&HFE", 254, 254.0},
      {"&O17", 15, 15.0},
      {"&17", 15, 15.0},
      {"&B101", 5, 5.0},
      {"&H-1", 0, 0.0},
      {"&HFFFFFFFF", 4294967295, 4294967295.0},
      {"&HFFFFFFFFFFFFFFFF", -1, -1.0},
      {"&HFFFFFFFFFFFFFFFFF", -1, -1.0},  // 19 bytes, still the integer route
      {"0x10", 0, 0.0},
      {"0x1E", 0, 30.0},
      {"abc", 0, 0.0},
      {"Hello", 0, 0.0},
      {"12abc", 12, 12.0},
      {"1,2", 1, 1.0},
      {"\"1\"", 1, 1.0},
      {"\" 3\"", 3, 3.0},
      {"12345678901", 12345678901, 12345678901.0},
      {"-1234567890", -1234567890, -1234567890.0},
      {"999999999", 999999999, 999999999.0},
      {"9223372036854775808", INT64_MIN, 9223372036854775808.0},
      {"1234567890123456789012", -1, 1.2345678901234568e21},
      {"1e999", INT64_MIN, kInf},
      {"-1e999", INT64_MIN, -kInf},
      {"1.5e300", INT64_MIN, 1.5e300},
      {"9.2233720368547758e18", INT64_MIN, 9223372036854775808.0},
      {"4503599627370497.0", 4503599627370497, 4503599627370497.0},
      {"nan", 0, 0.0},                // no float mark: the integer routines stop at once
      {"-nan.", INT64_MIN, std::nan("")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read_int(c.typed), c.integer) << c.typed;
    const double real = read_double(c.typed);
    if (std::isnan(c.real)) {
      EXPECT_TRUE(std::isnan(real)) << c.typed;
    } else {
      EXPECT_EQ(real, c.real) << c.typed;
    }
  }
}

TEST(FieldReads, LeaveTheErrorCodeAtZero) {
  set_error(3);
  read_int("abc");
  EXPECT_EQ(get_error(), 0);
}

TEST(FieldReads, SecondStatementGoesOnWhereTheFirstStopped) {
  RedirectedInput in("1 2\n");
  int64_t first = 0, second = 0;
  read_int64_field(&first);
  read_int64_field(&second);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  EXPECT_FALSE(input_reached_end());
  read_int64_field(&second);
  EXPECT_TRUE(input_reached_end());
  EXPECT_EQ(second, 0);
}

TEST(TextToNumber, LeadingBlanksButNotTabsAreSkipped) {
  EXPECT_EQ(text_to_int32("  &H10", 6), 16u);
  EXPECT_EQ(text_to_int64("  &H10", 6), 16u);
  EXPECT_EQ(text_to_double("  &H10", 6), 16.0);
  EXPECT_EQ(text_to_int32("\t&H10", 5), 0u);  // strtoul skips the tab, then stops at '&'
  EXPECT_EQ(text_to_int32("   ", 3), 0u);
  EXPECT_EQ(text_to_int32("5", 0), 0u);
  EXPECT_EQ(text_to_double("7", -4), 0.0);
}

TEST(TextToNumber, RespectTheGivenLength) {
  EXPECT_EQ(text_to_int32("12345", 3), 123u);
  EXPECT_EQ(text_to_int64("12345", 2), 12u);
  EXPECT_EQ(text_to_double("1.55", 3), 1.5);
  EXPECT_EQ(text_to_int32("&H1F", 3), 1u);
}

TEST(TextToNumber, LibraryRulesForDecimalText) {
  EXPECT_EQ(text_to_int32("-1", 2), 0xFFFFFFFFu);
  EXPECT_EQ(text_to_int32("4294967296", 10), 0u);            // low 32 bits
  EXPECT_EQ(text_to_int32("99999999999999999999", 20), 0xFFFFFFFFu);
  EXPECT_EQ(text_to_int64("99999999999999999999", 20), UINT64_MAX);
  EXPECT_EQ(text_to_int64("&H0x1F", 6), 31u);                 // base 16 accepts 0x
  EXPECT_EQ(text_to_int64("&H-1", 4), UINT64_MAX);            // and a sign
  EXPECT_EQ(text_to_double("1d-2", 4), 0.01);
  EXPECT_EQ(text_to_double("0X1p4", 5), 0.0);
  EXPECT_EQ(text_to_double("&B11", 4), 3.0);
  EXPECT_EQ(text_to_double("&HFFFFFFFFFFFFFFFF", 18), -1.0);
}

TEST(PrefixDigits, StopAtTheFirstNonDigitAndWrap) {
  EXPECT_EQ(prefix_digits32("1f2g", 4, 16), 0x1f2u);
  EXPECT_EQ(prefix_digits32("178", 3, 8), 15u);
  EXPECT_EQ(prefix_digits32("1012", 4, 2), 5u);
  EXPECT_EQ(prefix_digits32("123456789", 9, 16), 0x23456789u);  // modulo 2^32
  EXPECT_EQ(prefix_digits64("10000000000000001", 17, 16), 1u);  // modulo 2^64
  EXPECT_EQ(prefix_digits32("11", 2, 10), 0u);                  // other bases give 0
  EXPECT_EQ(prefix_digits64("11", 0, 2), 0u);
}

TEST(IntegerRounding, HalvesToEvenAndExplicitOutOfRange) {
  EXPECT_EQ(double_to_int64_rounded(0.5), 0);
  EXPECT_EQ(double_to_int64_rounded(-0.5), 0);
  EXPECT_EQ(double_to_int64_rounded(-2.5), -2);
  EXPECT_EQ(double_to_int64_rounded(4503599627370495.5), 4503599627370496);
  EXPECT_EQ(double_to_int64_rounded(-9223372036854774784.0), -9223372036854774784);
  EXPECT_EQ(double_to_int64_rounded(9223372036854775808.0), INT64_MIN);
  EXPECT_EQ(double_to_int64_rounded(-kInf), INT64_MIN);
}

}  // namespace
