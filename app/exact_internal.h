// SPDX-License-Identifier: MIT
// What the two paths of the exact conversion share: the formulas as
// fractions, and the layout of a rounded result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/exact.h"

// A conversion as a fraction in lowest terms, read off the two scales' rows:
// to = (a x from + b / 100) / c, with c > 0 of any size (a and b may be
// negative: Delisle runs backwards).
struct Formula {
  int64_t a;
  int64_t b;  // hundredths
  int64_t c;
};
// A difference drops the offset: b is 0.
Formula formula_for(Scale from, Scale to, Quantity quantity);
// A value is below absolute zero when its formula to Kelvin gives a
// negative numerator (c being positive).
inline Formula to_kelvin(Scale scale) { return formula_for(scale, Scale::Kelvin, Quantity::Reading); }
// c as 2^twos x 5^fives x rest, rest prime to 10: a division by c is a
// product by 2^(k - twos) x 5^(k - fives), k places more, and one by rest,
// k = max(twos, fives). Dividing by rest leaves no exact half to round.
struct Divisor {
  uint64_t product;  // 2^(k - twos) x 5^(k - fives)
  int places;        // k
  uint64_t rest;
};
Divisor divisor_of(int64_t c);

// Any valid value, with decimal digit strings: the path for what does not fit 128-bit integers.
ValueError convert_decimal(std::string_view number, Scale from, Scale to, Precision precision, std::string* out,
                           Quantity quantity);

// A rounded result as text. Significant: digits are the rounded significant
// digits (ASCII) and exponent that of the first. Places: digits are those of
// round(value x 10^places), without leading zeros ("0" for none).
void lay_out_result(bool negative, std::string_view digits, int64_t exponent, Precision precision, std::string* out);
