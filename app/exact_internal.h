// SPDX-License-Identifier: MIT
// What the two paths of the exact conversion share: the formulas as
// fractions, and the layout of a rounded result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/exact.h"

// A conversion as a fraction: to = (a x from + b / 100) / c, c being 1, 5 or 9.
struct Formula {
  int a;
  int64_t b;  // hundredths
  int c;
};
// A difference drops the offset: b is 0.
Formula formula_for(Scale from, Scale to, Quantity quantity);
// The hundredths that bring a value in its scale to the absolute scale
// (Kelvin or Rankine): below absolute zero when the sum is negative.
int64_t absolute_zero_in(Scale scale);

// Any valid value, with decimal digit strings: the path for what does not fit 128-bit integers.
ValueError convert_decimal(std::string_view number, Scale from, Scale to, Precision precision, std::string* out,
                           Quantity quantity);

// A rounded result as text. Significant: digits are the rounded significant
// digits (ASCII) and exponent that of the first. Places: digits are those of
// round(value x 10^places), without leading zeros ("0" for none).
void lay_out_result(bool negative, std::string_view digits, int64_t exponent, Precision precision, std::string* out);
