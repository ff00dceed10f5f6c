// SPDX-License-Identifier: MIT
// The exact conversion with decimal digit strings: any valid value, however
// many digits it has and however large its exponent. Taken only where the
// 128-bit path cannot go.
#include <algorithm>
#include <cstdint>

#include "app/exact_internal.h"

namespace {

// A number held exactly: (-1 if negative) x digits / (divisor x 10^scale).
// digits holds decimal digit values (0 to 9), most significant first, with
// no leading zero; none at all is zero. The divisor is prime to 10 (what
// of a formula's denominator is not 2s and 5s), once at most, and small.
struct Exact {
  bool negative = false;
  std::string digits;
  int64_t scale = 0;
  uint32_t divisor = 1;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

void strip_leading_zeros(std::string& digits) {
  const std::size_t first = digits.find_first_not_of('\0');
  digits.erase(0, first == std::string::npos ? digits.size() : first);
}

// digits x factor, factor below 2^32.
void multiply(std::string& digits, uint32_t factor) {
  uint64_t carry = 0;
  for (std::size_t i = digits.size(); i-- > 0;) {
    const uint64_t product = uint64_t{static_cast<uint8_t>(digits[i])} * factor + carry;
    digits[i] = static_cast<char>(product % 10);
    carry = product / 10;
  }
  for (; carry != 0; carry /= 10) digits.insert(digits.begin(), static_cast<char>(carry % 10));
  strip_leading_zeros(digits);
}

// Compares two magnitudes without leading zeros.
int compare(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

// a += b, both magnitudes.
void add_to(std::string& a, const std::string& b) {
  if (a.size() < b.size()) a.insert(0, b.size() - a.size(), '\0');
  int carry = 0;
  std::size_t i = a.size(), j = b.size();
  while (i-- > 0) {
    const int sum = a[i] + (j > 0 ? b[--j] : 0) + carry;
    a[i] = static_cast<char>(sum % 10);
    carry = sum / 10;
  }
  if (carry != 0) a.insert(a.begin(), static_cast<char>(carry));
}

// a -= b, magnitudes with a >= b.
void subtract_from(std::string& a, const std::string& b) {
  int borrow = 0;
  std::size_t i = a.size(), j = b.size();
  while (i-- > 0) {
    int difference = a[i] - (j > 0 ? b[--j] : 0) - borrow;
    borrow = difference < 0 ? 1 : 0;
    a[i] = static_cast<char>(difference + 10 * borrow);
  }
  strip_leading_zeros(a);
}

// The value as written: an optional sign, digits with an optional point (at
// least one digit), and an optional exponent of at most EXACT_EXPONENT_MAX.
ValueError parse(std::string_view text, Exact* value) {
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) value->negative = text[at++] == '-';
  bool any_digit = false;
  bool point = false;
  for (; at < text.size(); ++at) {
    if (is_digit(text[at])) {
      any_digit = true;
      if (!value->digits.empty() || text[at] != '0') value->digits.push_back(static_cast<char>(text[at] - '0'));
      if (point) ++value->scale;
    } else if (text[at] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any_digit) return ValueError::NotANumber;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    bool negative_exponent = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative_exponent = text[at++] == '-';
    if (at == text.size()) return ValueError::NotANumber;
    int64_t exponent = 0;
    for (; at < text.size() && is_digit(text[at]); ++at)
      exponent = std::min<int64_t>(exponent * 10 + (text[at] - '0'), EXACT_EXPONENT_MAX + 1);
    if (at != text.size()) return ValueError::NotANumber;
    if (exponent > EXACT_EXPONENT_MAX) return ValueError::ExponentOutOfRange;
    value->scale -= negative_exponent ? -exponent : exponent;
  }
  if (at != text.size()) return ValueError::NotANumber;
  // Fractional zeros written in the digits are part of the scale, not leading zeros:
  // "0.05" is digits 5 with scale 2, as parsed.
  if (value->digits.empty()) value->negative = false;
  return ValueError::None;
}

// value += hundredths / 100, exactly: both are brought to the finer scale.
void add_hundredths(Exact& value, int64_t hundredths) {
  const int64_t scale = std::max<int64_t>(value.scale, 2);
  if (!value.digits.empty()) value.digits.append(static_cast<std::size_t>(scale - value.scale), '\0');
  value.scale = scale;
  std::string addend;
  for (uint64_t units = static_cast<uint64_t>(hundredths < 0 ? -hundredths : hundredths); units != 0; units /= 10)
    addend.insert(addend.begin(), static_cast<char>(units % 10));
  multiply(addend, value.divisor);
  if (!addend.empty()) addend.append(static_cast<std::size_t>(scale - 2), '\0');
  const bool addend_negative = hundredths < 0;
  if (value.digits.empty()) {
    value.digits = addend;
    value.negative = addend_negative;
  } else if (value.negative == addend_negative) {
    add_to(value.digits, addend);
  } else if (compare(value.digits, addend) >= 0) {
    subtract_from(value.digits, addend);
  } else {
    std::string difference = addend;
    subtract_from(difference, value.digits);
    value.digits.swap(difference);
    value.negative = addend_negative;
  }
  if (value.digits.empty()) value.negative = false;
}

// to = (a x from + b / 100) / c; the 2s and 5s of c are a product and places.
void apply(Exact& value, const Formula& formula) {
  if (formula.a < 0 && !value.digits.empty()) value.negative = !value.negative;
  const auto a = static_cast<uint32_t>(formula.a < 0 ? -formula.a : formula.a);
  if (a != 1) multiply(value.digits, a);
  if (value.digits.empty()) value.negative = false;
  if (formula.b != 0) add_hundredths(value, formula.b);
  const Divisor& c = formula.split;
  if (c.product != 1) multiply(value.digits, static_cast<uint32_t>(c.product));
  value.scale += c.places;
  value.divisor *= static_cast<uint32_t>(c.rest);
}

bool below_absolute_zero(const Exact& value, Scale scale) {
  Exact kelvin = value;
  apply(kelvin, to_kelvin(scale));
  return kelvin.negative;
}

// Where what is dropped by a rounding stands against one half of the last
// digit kept: its first digit, then whether anything after it is non-zero.
int against_half(int first_dropped, bool more_after) {
  if (first_dropped != 5) return first_dropped > 5 ? 1 : -1;
  return more_after ? 1 : 0;
}

// Adds one to an ASCII digit string, which may grow by a digit.
void increment(std::string& digits) {
  std::size_t i = digits.size();
  while (i-- > 0 && digits[i] == '9') digits[i] = '0';
  if (i == static_cast<std::size_t>(-1)) {
    digits.insert(digits.begin(), '1');
  } else {
    ++digits[i];
  }
}

// The significant digits of a non-zero value, rounded half to even (ASCII),
// and the power of ten of the first. Long division of the digits by the
// divisor: the quotient's digits come out one at a time (past the last digit
// the dividend goes on with zeros), and what is left decides the rounding.
std::string round_significant(const Exact& value, int count, int64_t* exponent) {
  const std::string& m = value.digits;
  const uint32_t divisor = value.divisor;
  std::string digits;
  uint32_t remainder = 0;
  std::size_t taken = 0;  // digits of m used so far
  int64_t first = -1;     // the place of the first non-zero quotient digit
  for (int64_t place = 0; static_cast<int>(digits.size()) < count; ++place) {
    const uint32_t current = remainder * 10 + (taken < m.size() ? static_cast<uint8_t>(m[taken]) : 0);
    ++taken;
    const uint32_t digit = current / divisor;
    remainder = current % divisor;
    if (first < 0 && digit == 0) continue;
    if (first < 0) first = place;
    digits.push_back(static_cast<char>('0' + digit));
  }
  // What is left, in units of the last digit kept: (remainder x 10^j + S) /
  // (divisor x 10^j), S the j digits of m not yet used, against one half.
  const std::size_t left = taken < m.size() ? m.size() - taken : 0;
  const int64_t twice_minus = 2 * int64_t{remainder} - divisor;
  int against;
  if (twice_minus >= 1) {
    against = 1;
  } else if (twice_minus <= -2 || left == 0) {
    against = -1;
  } else {  // remainder = (divisor - 1) / 2: what is left is one half exactly when S is
    const std::string_view rest(m.data() + taken, left);
    against = against_half(rest[0], rest.find_first_not_of('\0', 1) != std::string_view::npos);
  }
  *exponent = static_cast<int64_t>(m.size()) - 1 - first - value.scale;
  if (against > 0 || (against == 0 && (digits.back() & 1) != 0)) {
    increment(digits);
    if (digits.size() > static_cast<std::size_t>(count)) {  // 99...9 became 100...0
      digits.pop_back();
      ++*exponent;
    }
  }
  return digits;
}

// The digits of round(value x 10^places), half to even (ASCII, "0" for none).
std::string round_to_places(const Exact& value, int places) {
  const int64_t dropped = value.scale - places;  // digits / (divisor x 10^dropped)
  std::string n = value.digits;
  if (dropped < 0) n.append(static_cast<std::size_t>(-dropped), '\0');
  std::string quotient(n.size(), '0');
  uint32_t remainder = 0;
  for (std::size_t i = 0; i < n.size(); ++i) {
    const uint32_t current = remainder * 10 + static_cast<uint8_t>(n[i]);
    quotient[i] = static_cast<char>('0' + current / value.divisor);
    remainder = current % value.divisor;
  }
  int against;
  std::size_t keep = quotient.size();
  if (dropped <= 0) {
    against = 2 * remainder > value.divisor ? 1 : -1;  // the divisor is odd: never exactly half
  } else {
    const int64_t first = static_cast<int64_t>(quotient.size()) - dropped;  // the first digit dropped
    keep = first > 0 ? static_cast<std::size_t>(first) : 0;
    if (first < 0) {
      against = -1;  // below a tenth of the last place kept
    } else {
      const std::string_view rest(quotient.data() + first, quotient.size() - keep);
      against = against_half(rest[0] - '0', rest.find_first_not_of('0', 1) != std::string_view::npos || remainder != 0);
    }
  }
  std::string digits = quotient.substr(0, keep);
  const std::size_t significant = digits.find_first_not_of('0');
  digits.erase(0, significant == std::string::npos ? digits.size() : significant);
  if (digits.empty()) digits.push_back('0');
  if (against > 0 || (against == 0 && ((digits.back() - '0') & 1) != 0)) increment(digits);
  return digits;
}

}  // namespace

ValueError convert_decimal(std::string_view number, Scale from, Scale to, Precision precision, std::string* out,
                           Quantity quantity) {
  Exact value;
  const ValueError error = parse(number, &value);
  if (error != ValueError::None) return error;
  if (quantity == Quantity::Reading && below_absolute_zero(value, from)) return ValueError::BelowAbsoluteZero;
  apply(value, formula_for(from, to, quantity));
  if (precision.kind == Precision::Kind::Places) {
    const std::string digits = round_to_places(value, precision.count);
    lay_out_result(value.negative, digits, 0, precision, out);
  } else if (value.digits.empty()) {
    lay_out_result(false, "0", 0, precision, out);
  } else {
    int64_t exponent = 0;
    const std::string digits = round_significant(value, precision.count, &exponent);
    lay_out_result(value.negative, digits, exponent, precision, out);
  }
  return ValueError::None;
}
