// SPDX-License-Identifier: MIT
#include "tests/support/exact_reference.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// An unsigned big integer, 32-bit limbs, least significant first, no high zero limb.
struct Big {
  std::vector<uint32_t> limbs;

  static Big of(uint64_t v) {
    Big b;
    for (; v != 0; v >>= 32) b.limbs.push_back(static_cast<uint32_t>(v));
    return b;
  }
  bool zero() const { return limbs.empty(); }
  void trim() {
    while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
  }
};

int compare(const Big& a, const Big& b) {
  if (a.limbs.size() != b.limbs.size()) return a.limbs.size() < b.limbs.size() ? -1 : 1;
  for (std::size_t i = a.limbs.size(); i-- > 0;) {
    if (a.limbs[i] != b.limbs[i]) return a.limbs[i] < b.limbs[i] ? -1 : 1;
  }
  return 0;
}

Big add(const Big& a, const Big& b) {
  Big r;
  uint64_t carry = 0;
  for (std::size_t i = 0; i < std::max(a.limbs.size(), b.limbs.size()) || carry; ++i) {
    const uint64_t s = carry + (i < a.limbs.size() ? a.limbs[i] : 0) + (i < b.limbs.size() ? b.limbs[i] : 0);
    r.limbs.push_back(static_cast<uint32_t>(s));
    carry = s >> 32;
  }
  r.trim();
  return r;
}

Big subtract(const Big& a, const Big& b) {  // a >= b
  Big r = a;
  int64_t borrow = 0;
  for (std::size_t i = 0; i < r.limbs.size(); ++i) {
    int64_t d = int64_t{r.limbs[i]} - (i < b.limbs.size() ? b.limbs[i] : 0) - borrow;
    borrow = d < 0 ? 1 : 0;
    r.limbs[i] = static_cast<uint32_t>(d + (borrow << 32));
  }
  r.trim();
  return r;
}

Big multiply(const Big& a, const Big& b) {
  Big r;
  r.limbs.assign(a.limbs.size() + b.limbs.size(), 0);
  for (std::size_t i = 0; i < a.limbs.size(); ++i) {
    uint64_t carry = 0;
    for (std::size_t j = 0; j < b.limbs.size() || carry; ++j) {
      const uint64_t cur = r.limbs[i + j] + carry + (j < b.limbs.size() ? uint64_t{a.limbs[i]} * b.limbs[j] : 0);
      r.limbs[i + j] = static_cast<uint32_t>(cur);
      carry = cur >> 32;
    }
  }
  r.trim();
  return r;
}

Big power_of_ten(int64_t n) {
  Big r = Big::of(1);
  for (int64_t i = 0; i < n; ++i) r = multiply(r, Big::of(10));
  return r;
}

// Quotient and remainder, bit by bit.
void divide(const Big& a, const Big& b, Big* quotient, Big* remainder) {
  Big q, r;
  const std::size_t bits = a.limbs.size() * 32;
  q.limbs.assign(a.limbs.size(), 0);
  for (std::size_t i = bits; i-- > 0;) {
    r = add(r, r);
    if ((a.limbs[i / 32] >> (i % 32)) & 1) r = add(r, Big::of(1));
    if (compare(r, b) >= 0) {
      r = subtract(r, b);
      q.limbs[i / 32] |= 1u << (i % 32);
    }
  }
  q.trim();
  *quotient = q;
  *remainder = r;
}

std::string decimal(Big v) {
  if (v.zero()) return "0";
  std::string s;
  const Big ten = Big::of(10);
  while (!v.zero()) {
    Big q, r;
    divide(v, ten, &q, &r);
    s.push_back(static_cast<char>('0' + (r.zero() ? 0 : r.limbs[0])));
    v = q;
  }
  std::reverse(s.begin(), s.end());
  return s;
}

// A signed fraction num / den, den > 0.
struct Fraction {
  bool negative = false;
  Big num;
  Big den = Big::of(1);
};

Fraction plus(const Fraction& x, int64_t units, int scale) {  // x + units / 10^scale
  const Big den = multiply(x.den, power_of_ten(scale));
  const Big left = multiply(x.num, power_of_ten(scale));
  const Big right = multiply(Big::of(static_cast<uint64_t>(units < 0 ? -units : units)), x.den);
  Fraction r;
  r.den = den;
  if (x.negative == (units < 0) || left.zero()) {
    r.num = add(left, right);
    r.negative = left.zero() ? units < 0 : x.negative;
  } else if (compare(left, right) >= 0) {
    r.num = subtract(left, right);
    r.negative = x.negative;
  } else {
    r.num = subtract(right, left);
    r.negative = units < 0;
  }
  if (r.num.zero()) r.negative = false;
  return r;
}

Fraction times(const Fraction& x, uint64_t p, uint64_t q) {
  return {x.negative, multiply(x.num, Big::of(p)), multiply(x.den, Big::of(q))};
}

std::optional<Fraction> parse(std::string_view text) {
  Fraction f;
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) f.negative = text[at++] == '-';
  const std::size_t e = std::min(text.find_first_of("eE", at), text.size());
  std::string_view mantissa = text.substr(at, e - at);
  const std::size_t point = mantissa.find('.');
  std::string digits(mantissa);
  int64_t exponent = 0;
  if (point != std::string_view::npos) {
    digits.erase(point, 1);
    exponent -= static_cast<int64_t>(mantissa.size() - point - 1);
  }
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  if (e < text.size()) {
    std::string_view power = text.substr(e + 1);
    bool minus = false;
    if (!power.empty() && (power[0] == '-' || power[0] == '+')) {
      minus = power[0] == '-';
      power.remove_prefix(1);
    }
    if (power.empty() || !std::all_of(power.begin(), power.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return std::nullopt;
    while (power.size() > 1 && power[0] == '0') power.remove_prefix(1);
    if (power.size() > 4) return std::nullopt;
    const int64_t p = std::stoll(std::string(power));
    exponent += minus ? -p : p;
  }
  for (const char c : digits) f.num = add(multiply(f.num, Big::of(10)), Big::of(static_cast<uint64_t>(c - '0')));
  if (exponent > 0) f.num = multiply(f.num, power_of_ten(exponent));
  if (exponent < 0) f.den = power_of_ten(-exponent);
  if (f.num.zero()) f.negative = false;
  return f;
}

// x times p / q, p of either sign.
Fraction times_signed(const Fraction& x, int64_t p, int64_t q) {
  Fraction r = times(x, static_cast<uint64_t>(p < 0 ? -p : p), static_cast<uint64_t>(q));
  if (p < 0 && !r.num.zero()) r.negative = !r.negative;
  return r;
}

// To Celsius and from it, as each scale's row gives it: C = (x - offset) x factor.
Fraction celsius_of(const Fraction& x, Scale s) {
  const ScaleRow& row = row_of(s);
  return times_signed(plus(x, -row.offset_hundredths, 2), row.factor_numerator, row.factor_denominator);
}

Fraction in_scale(const Fraction& c, Scale s) {
  const ScaleRow& row = row_of(s);
  const bool backwards = row.factor_numerator < 0;
  const Fraction x = times_signed(c, backwards ? -row.factor_denominator : row.factor_denominator,
                                  backwards ? -row.factor_numerator : row.factor_numerator);
  return plus(x, row.offset_hundredths, 2);
}

std::string layout(bool negative, const std::string& digits, int64_t e, int precision) {
  std::string kept = digits;
  while (kept.size() > 1 && kept.back() == '0') kept.pop_back();
  std::string out = negative ? "-" : "";
  if (e < -4 || e >= precision) {
    out += kept.substr(0, 1);
    if (kept.size() > 1) out += "." + kept.substr(1);
    const std::string power = std::to_string(e < 0 ? -e : e);
    return out + (e < 0 ? "e-" : "e+") + (power.size() < 2 ? "0" : "") + power;
  }
  if (e < 0) return out + "0." + std::string(static_cast<std::size_t>(-e - 1), '0') + kept;
  if (kept.size() <= static_cast<std::size_t>(e + 1)) return out + kept + std::string(e + 1 - kept.size(), '0');
  return out + kept.substr(0, e + 1) + "." + kept.substr(e + 1);
}

// num / den rounded half to even.
Big rounded(const Big& num, const Big& den) {
  Big q, r;
  divide(num, den, &q, &r);
  const int half = compare(add(r, r), den);
  if (half > 0 || (half == 0 && !q.zero() && (q.limbs[0] & 1) != 0)) q = add(q, Big::of(1));
  return q;
}

// %f with places digits after the point: the digits of round(|y| x 10^places).
std::string fixed_layout(const Fraction& y, int places) {
  const std::string digits = decimal(rounded(multiply(y.num, power_of_ten(places)), y.den));
  std::string out = y.negative && digits != "0" ? "-" : "";
  const auto p = static_cast<std::size_t>(places);
  if (digits.size() <= p) return out + "0" + (p != 0 ? "." + std::string(p - digits.size(), '0') + digits : "");
  return out + digits.substr(0, digits.size() - p) + (p != 0 ? "." + digits.substr(digits.size() - p) : "");
}

}  // namespace

std::optional<std::string> reference_convert(std::string_view text, Scale from, Scale to, int digits) {
  return reference_convert(text, from, to, Precision{Precision::Kind::Significant, digits});
}

std::optional<std::string> reference_convert(std::string_view text, Scale from, Scale to, Precision precision) {
  const std::optional<Fraction> x = parse(text);
  if (!x) return std::nullopt;
  if (in_scale(celsius_of(*x, from), Scale::Kelvin).negative) return std::nullopt;  // below absolute zero
  const Fraction y = in_scale(celsius_of(*x, from), to);
  if (precision.kind == Precision::Kind::Places) return fixed_layout(y, precision.count);
  const int digits = precision.count;
  if (y.num.zero()) return std::string("0");
  // e with 10^e <= |y| < 10^(e+1).
  int64_t e = static_cast<int64_t>(decimal(y.num).size()) - static_cast<int64_t>(decimal(y.den).size());
  auto at_least = [&](int64_t power) {  // |y| >= 10^power
    return power >= 0 ? compare(y.num, multiply(y.den, power_of_ten(power))) >= 0
                      : compare(multiply(y.num, power_of_ten(-power)), y.den) >= 0;
  };
  while (!at_least(e)) --e;
  while (at_least(e + 1)) ++e;
  // q = |y| x 10^(digits - 1 - e), rounded half to even.
  const int64_t shift = digits - 1 - e;
  const Big num = shift >= 0 ? multiply(y.num, power_of_ten(shift)) : y.num;
  const Big den = shift >= 0 ? y.den : multiply(y.den, power_of_ten(-shift));
  std::string text_digits = decimal(rounded(num, den));
  if (static_cast<int>(text_digits.size()) > digits) {  // rounded up to 10^digits
    text_digits.pop_back();
    ++e;
  }
  return layout(y.negative, text_digits, e, digits);
}
