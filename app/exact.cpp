// SPDX-License-Identifier: MIT
// The exact conversion: scale names and suffixes, and the usual value (at
// most 19 significant digits, a small exponent) converted with 128-bit
// integers. Everything else goes to the decimal path (exact_decimal.cpp),
// which also rejects what is not a value.
//
// With the value as V / 10^s (V an integer), a conversion is
// (a V + b 10^(s-2)) / (c 10^s): one integer, and a division by c and a
// power of ten. Rounding it to k digits is one more integer division:
// round(value x 10^shift), ties to even, from the remainder.
#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

#include "app/exact_internal.h"
#include "runtime/print/print.h"
#include "runtime/print/wide_integer.h"

namespace {

using i128 = __int128;

// The number of decimal digits of x (x > 0): from its bit length, then one comparison.
int decimal_length(u128 x) {
  const int estimate = (bit_length(x) * 1233) >> 12;  // floor(log10(2^bits)), or one less than the length
  return estimate < 39 && x >= power_of_ten(estimate) ? estimate + 1 : estimate;
}

// The decimal digits of x, most significant first; returns the end.
char* write_digits(char* out, u128 x) {
  char reversed[40];
  int count = 0;
  auto low_digits = [&](uint64_t part, bool pad) {
    for (int i = 0; part != 0 || (pad && i < 19) || count == 0; ++i, part /= 10) reversed[count++] = static_cast<char>('0' + part % 10);
  };
  if (x >> 64 == 0) {  // the usual case: two digits at a time
    static constexpr auto kPairs = [] {
      std::array<char, 200> pairs{};
      for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
      }
      return pairs;
    }();
    uint64_t part = static_cast<uint64_t>(x);
    char* const end = out + decimal_length(x);
    char* p = end;
    // Eight digits at a time in 32 bits, so that the divisions do not wait on each other.
    for (; part >= 100000000; part /= 100000000) {
      auto eight = static_cast<uint32_t>(part % 100000000);
      for (int i = 0; i < 4; ++i, eight /= 100, p -= 2) std::memcpy(p - 2, &kPairs[2 * (eight % 100)], 2);
    }
    auto rest = static_cast<uint32_t>(part);
    for (; rest >= 10; rest /= 100, p -= 2) std::memcpy(p - 2, &kPairs[2 * (rest % 100)], 2);
    if (p != out) *--p = static_cast<char>('0' + rest);
    return end;
  } else {
    const u128 split = power_of_ten(19);
    low_digits(static_cast<uint64_t>(x % split), true);
    const u128 high = x / split;
    if (high >> 64 == 0) {
      low_digits(static_cast<uint64_t>(high), false);
    } else {
      low_digits(static_cast<uint64_t>(high % split), true);
      low_digits(static_cast<uint64_t>(high / split), false);
    }
  }
  while (count > 0) *out++ = reversed[--count];
  return out;
}

// A value of at most 19 significant digits: -1 if negative x mantissa x 10^exponent.
struct Small {
  bool negative;
  uint64_t mantissa;
  int64_t exponent;
};

// Reads a usual value quickly; false for anything else (more digits, a
// large exponent, what is not a value), which the decimal path reads.
bool parse_small(std::string_view text, Small* value) {
  const char* p = text.data();
  const char* const end = p + text.size();
  value->negative = p < end && *p == '-';
  if (p < end && (*p == '+' || *p == '-')) ++p;
  uint64_t mantissa = 0;
  int digits = 0;
  int64_t fraction = 0;
  bool any = false, point = false;
  for (; p < end; ++p) {
    const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(*p) - '0');
    if (digit < 10) {
      any = true;
      if ((mantissa != 0 || digit != 0) && ++digits > 19) return false;
      mantissa = mantissa * 10 + digit;
      fraction += point ? 1 : 0;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any) return false;
  int64_t exponent = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    const bool negative = ++p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-')) ++p;
    if (p == end) return false;
    for (; p < end && static_cast<unsigned>(*p - '0') < 10; ++p) {
      exponent = exponent * 10 + (*p - '0');
      if (exponent > 99) return false;
    }
    if (negative) exponent = -exponent;
  }
  if (p != end) return false;
  value->mantissa = mantissa;
  value->exponent = exponent - fraction;
  return true;
}

// a V + b 10^(s-2), false where it might not fit 127 bits: each term below
// 2^125 by the bit lengths of its factors.
inline bool numerator_of(const Formula& formula, i128 v, int v_bits, i128 hundredth, int hundredth_bits, i128* n) {
  constexpr int kTermBits = 125;
  if (v_bits + formula.a_bits > kTermBits || hundredth_bits + formula.b_bits > kTermBits) return false;
  *n = formula.a * v + formula.b * hundredth;
  return true;
}

// The power of ten of the first significant digit of m / d, d being the
// rest of a formula's divisor (m > 0).
inline int64_t first_digit_place(u128 m, const Divisor& d) {
  const int64_t e = decimal_length(m) - d.rest_digits;  // m / d is below 10^(e + 1) and not below 10^(e - 1)
  if (d.rest == 1) return e;
  bool at_least;  // m >= d x 10^e: a product while it fits (d is small), else a division
  if (e < 0) {
    at_least = m * power_of_ten(static_cast<int>(-e)) >= d.rest;
  } else if (e <= 30) {
    at_least = m >= d.rest * power_of_ten(static_cast<int>(e));
  } else {
    at_least = m / power_of_ten(static_cast<int>(e)) >= d.rest;
  }
  return at_least ? e : e - 1;
}

// The conversion with 128-bit integers; false where a term would not fit
// (the decimal path then converts the value). *error tells a rejection.
bool convert_small(const Small& value, Scale from, Scale to, Precision precision, Quantity quantity,
                   std::string* out, ValueError* error) {
  if (value.exponent < -30 || value.exponent > 16) return false;
  const int64_t s = std::max<int64_t>(2, -value.exponent);  // the value is V / 10^s
  const u128 v_magnitude = u128{value.mantissa} * power_of_ten(value.exponent + s);  // below 10^37
  const i128 v = value.negative ? -static_cast<i128>(v_magnitude) : static_cast<i128>(v_magnitude);
  const i128 hundredth = static_cast<i128>(power_of_ten(s - 2));
  const int v_bits = bit_length(v_magnitude), hundredth_bits = bit_length(static_cast<u128>(hundredth));
  i128 kelvin = 0;
  const Formula& absolute = to_kelvin(from);
  // Where absolute zero is at 0 or below (every scale but Delisle), no value of 0 or more is under it.
  if (quantity == Quantity::Reading && (v < 0 || absolute.a < 0 || absolute.b < 0)) {
    if (!numerator_of(absolute, v, v_bits, hundredth, hundredth_bits, &kelvin)) return false;
    if (kelvin < 0) {
      *error = ValueError::BelowAbsoluteZero;
      return true;
    }
  }
  const Formula& formula = formula_for(from, to, quantity);
  i128 n = 0;  // the result is n / (c x 10^s)
  if (!numerator_of(formula, v, v_bits, hundredth, hundredth_bits, &n)) return false;
  const bool negative = n < 0;
  u128 magnitude = static_cast<u128>(negative ? -n : n);
  const Divisor& c = formula.split;
  if (c.product != 1) {
    if (bit_length(magnitude) + bit_length(c.product) > 128) return false;
    magnitude *= c.product;
  }
  const int64_t scale = s + c.places;
  const u128 divisor = c.rest;
  if (magnitude == 0) {
    lay_out_result(false, "0", 0, precision, out);
    return true;
  }
  // The power of ten of the first significant digit of magnitude / (divisor x 10^scale).
  int64_t first = first_digit_place(magnitude, c) - scale;
  const bool significant = precision.kind == Precision::Kind::Significant;
  // round(value x 10^shift): count significant digits, or count places.
  const int64_t shift = significant ? precision.count - 1 - first : precision.count;
  const int64_t t = shift - scale;  // value x 10^shift = magnitude x 10^t / divisor
  u128 numerator = magnitude, denominator = divisor;
  if (t >= 0) {
    if (t > 38 || bit_length(magnitude) + bit_length(power_of_ten(t)) > 126) return false;
    numerator *= power_of_ten(t);
  } else {
    if (-t > 37) return false;
    denominator *= power_of_ten(-t);
  }
  u128 rounded, remainder;
  if (numerator >> 64 == 0 && denominator >> 64 == 0) {  // the usual case: 64-bit division
    const auto n64 = static_cast<uint64_t>(numerator), d64 = static_cast<uint64_t>(denominator);
    rounded = d64 == 9 ? n64 / 9 : n64 / d64;
    remainder = n64 - static_cast<uint64_t>(rounded) * d64;
  } else {
    rounded = numerator / denominator;
    remainder = numerator % denominator;
  }
  if (2 * remainder > denominator || (2 * remainder == denominator && (rounded & 1) != 0)) ++rounded;
  if (significant && rounded == power_of_ten(precision.count)) {  // 99...9 became 100...0
    rounded = power_of_ten(precision.count - 1);
    ++first;
  }
  char digits[40];
  const char* digits_end = write_digits(digits, rounded);
  lay_out_result(negative && rounded != 0, std::string_view(digits, static_cast<std::size_t>(digits_end - digits)),
                 first, precision, out);
  return true;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The same letters, ASCII ones in either case, others byte for byte.
bool same_letters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

void lay_out_result(bool negative, std::string_view digits, int64_t exponent, Precision precision, std::string* out) {
  if (precision.kind == Precision::Kind::Significant) {
    char text[EXACT_DIGITS_MAX + 16];
    const char* end = lay_out_general(text, negative, digits.data(), static_cast<int>(digits.size()), exponent,
                                      precision.count);
    out->assign(text, static_cast<std::size_t>(end - text));
    return;
  }
  // printf's %f: the digits of round(value x 10^places), the point places from their end.
  const auto places = static_cast<std::size_t>(precision.count);
  out->clear();
  if (negative && digits != "0") out->push_back('-');  // never "-0"
  if (digits.size() <= places) {
    out->push_back('0');
    if (places != 0) {
      out->push_back('.');
      out->append(places - digits.size(), '0');
      out->append(digits);
    }
  } else {
    out->append(digits.substr(0, digits.size() - places));
    if (places != 0) {
      out->push_back('.');
      out->append(digits.substr(digits.size() - places));
    }
  }
}

Suffixed split_scale_suffix(std::string_view value) {
  constexpr std::string_view kDegree = "\xc2\xb0";  // °
  if (value.empty() || static_cast<unsigned>(value.back() - '0') < 10 || value.back() == '.') return {value, std::nullopt};
  // The longest suffix that ends the value: a sign, or letters (after ° or not).
  std::optional<Scale> scale;
  std::size_t length = 0;
  bool lettered = false;
  const auto ends_with = [&](std::string_view suffix) {
    return !suffix.empty() && suffix.size() > length && value.size() >= suffix.size() &&
           same_letters(value.substr(value.size() - suffix.size()), suffix);
  };
  for (const ScaleRow& row : kScales) {
    for (const std::string_view letters : {row.letters, row.lettered}) {
      if (ends_with(letters)) {
        scale = row.scale;
        length = letters.size();
        lettered = true;
      }
    }
    if (ends_with(row.sign)) {
      scale = row.scale;
      length = row.sign.size();
      lettered = false;
    }
  }
  if (!scale) return {value, std::nullopt};
  std::size_t end = value.size() - length;
  if (lettered && value.substr(0, end).ends_with(kDegree)) end -= kDegree.size();
  if (end != 0 && (value[end - 1] == ' ' || value[end - 1] == '\t')) --end;
  return {value.substr(0, end), scale};
}

std::optional<Scale> scale_named(std::string_view name) {
  for (const ScaleRow& row : kScales) {
    if (same_letters(name, row.name) || (!row.spelling.empty() && same_letters(name, row.spelling))) return row.scale;
  }
  const Suffixed symbol = split_scale_suffix(name);
  return symbol.number.empty() ? symbol.scale : std::nullopt;
}

const char* value_error_text(ValueError error) {
  switch (error) {
    case ValueError::None: return "";
    case ValueError::NotANumber: return "not a number";
    case ValueError::ExponentOutOfRange: return "exponent out of range";
    case ValueError::BelowAbsoluteZero: return "below absolute zero";
    case ValueError::TooLong: return "value too long";
    case ValueError::UnclosedQuote: return "no closing quote";
    case ValueError::NoScale: return "no scale: give -f SCALE, or write it after the value (212F)";
    case ValueError::OtherScale: return "its scale is not the one -f names";
  }
  return "";
}

ValueError convert_exact(std::string_view number, Scale from, Scale to, Precision precision, std::string* out,
                         Quantity quantity) {
  Small small;
  ValueError error = ValueError::None;
  if (parse_small(number, &small) && convert_small(small, from, to, precision, quantity, out, &error)) return error;
  return convert_decimal(number, from, to, precision, out, quantity);
}

ValueError convert_value(std::string_view value, const Conversion& conversion, std::string* out) {
  if (value.size() > EXACT_VALUE_MAX) return ValueError::TooLong;
  const std::optional<Scale> from = conversion.from;
  const Suffixed suffixed = split_scale_suffix(value);
  const std::optional<Scale> scale = suffixed.scale ? suffixed.scale : from;
  const ValueError error = convert_exact(suffixed.number, scale.value_or(Scale::Kelvin), conversion.to,
                                         conversion.precision, out, conversion.quantity);
  // What is not a number is that first ("abc" does not end with a scale); then the scale.
  if (error == ValueError::NotANumber || error == ValueError::ExponentOutOfRange) return error;
  if (suffixed.scale && from && *suffixed.scale != *from) return ValueError::OtherScale;
  if (!scale) return ValueError::NoScale;
  return error;
}
