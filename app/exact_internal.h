// SPDX-License-Identifier: MIT
// What the two paths of the exact conversion share: the formulas as
// fractions, and the layout of a rounded result.
#pragma once

#include <array>
#include <cstdint>
#include <numeric>
#include <string>
#include <string_view>

#include "app/exact.h"

// c as 2^twos x 5^fives x rest, rest prime to 10: a division by c is a
// product by 2^(k - twos) x 5^(k - fives), k places more, and one by rest,
// k = max(twos, fives). Dividing by rest leaves no exact half to round.
struct Divisor {
  uint64_t product;  // 2^(k - twos) x 5^(k - fives)
  int places;        // k
  uint64_t rest;
  int rest_digits;   // the decimal digits of rest
};
constexpr Divisor divisor_of(int64_t c) {
  Divisor divisor{1, 0, static_cast<uint64_t>(c), 0};
  int twos = 0, fives = 0;
  for (; divisor.rest % 2 == 0; divisor.rest /= 2) ++twos;
  for (; divisor.rest % 5 == 0; divisor.rest /= 5) ++fives;
  divisor.places = twos > fives ? twos : fives;
  for (int i = twos; i < divisor.places; ++i) divisor.product *= 2;
  for (int i = fives; i < divisor.places; ++i) divisor.product *= 5;
  for (uint64_t left = divisor.rest; left != 0; left /= 10) ++divisor.rest_digits;
  return divisor;
}

constexpr int bits_of(int64_t n) {
  int bits = 0;
  for (uint64_t left = static_cast<uint64_t>(n < 0 ? -n : n); left != 0; left >>= 1) ++bits;
  return bits;
}

// A conversion as a fraction in lowest terms, read off the two scales' rows:
// to = (a x from + b / 100) / c, with c > 0 of any size (a and b may be
// negative: Delisle runs backwards), and c split as above.
struct Formula {
  int64_t a;
  int64_t b;  // hundredths
  int64_t c;
  Divisor split;
  int a_bits, b_bits;  // of |a| and |b|: what a product by them may need

  constexpr Formula(int64_t a_, int64_t b_, int64_t c_)
      : a(a_), b(b_), c(c_), split(divisor_of(c_)), a_bits(bits_of(a_)), b_bits(bits_of(b_)) {}
  constexpr Formula() : Formula(1, 0, 1) {}
};

// Through Celsius, C = (x - offset) x factor: y = (x - x0) f / g + y0, in
// lowest terms; or (a difference) the factors alone.
constexpr Formula formula_between(const ScaleRow& from, const ScaleRow& to, Quantity quantity) {
  int64_t a = from.factor_numerator * to.factor_denominator;
  int64_t c = from.factor_denominator * to.factor_numerator;
  int64_t b = quantity == Quantity::Difference ? 0 : -a * from.offset_hundredths + c * to.offset_hundredths;
  if (c < 0) {
    a = -a;
    b = -b;
    c = -c;
  }
  const int64_t common = std::gcd(std::gcd(a, b), c);
  return {a / common, b / common, c / common};
}

// Every pair's, readings and differences, made once at compile time.
inline constexpr auto kFormulas = [] {
  std::array<std::array<std::array<Formula, 2>, kScaleCount>, kScaleCount> formulas{};
  for (std::size_t from = 0; from < kScaleCount; ++from) {
    for (std::size_t to = 0; to < kScaleCount; ++to) {
      formulas[from][to][0] = formula_between(kScales[from], kScales[to], Quantity::Reading);
      formulas[from][to][1] = formula_between(kScales[from], kScales[to], Quantity::Difference);
    }
  }
  return formulas;
}();

// A difference drops the offset: b is 0.
inline const Formula& formula_for(Scale from, Scale to, Quantity quantity) {
  return kFormulas[static_cast<std::size_t>(from)][static_cast<std::size_t>(to)][quantity == Quantity::Difference];
}
// A value is below absolute zero when its formula to Kelvin gives a
// negative numerator (c being positive).
inline const Formula& to_kelvin(Scale scale) { return formula_for(scale, Scale::Kelvin, Quantity::Reading); }

// Any valid value, with decimal digit strings: the path for what does not fit 128-bit integers.
ValueError convert_decimal(std::string_view number, Scale from, Scale to, Precision precision, std::string* out,
                           Quantity quantity);

// A rounded result as text. Significant: digits are the rounded significant
// digits (ASCII) and exponent that of the first. Places: digits are those of
// round(value x 10^places), without leading zeros ("0" for none).
void lay_out_result(bool negative, std::string_view digits, int64_t exponent, Precision precision, std::string* out);
