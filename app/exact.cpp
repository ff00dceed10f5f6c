// SPDX-License-Identifier: MIT
#include "app/exact.h"

#include <algorithm>
#include <cstdint>

namespace {

// A number held exactly: (-1 if negative) x digits / (divisor x 10^scale).
// digits holds decimal digit values (0 to 9), most significant first, with
// no leading zero; none at all is zero. The divisor is 1, 9 or 81.
struct Exact {
  bool negative = false;
  std::string digits;
  int64_t scale = 0;
  uint32_t divisor = 1;
};

// A constant: units / 10^scale.
struct Constant {
  int64_t units;
  int scale;
};
constexpr Constant kCelsiusZeroInKelvin{27315, 2};       // 273.15
constexpr Constant kFahrenheitZeroInRankine{45967, 2};   // 459.67
constexpr Constant kCelsiusZeroInFahrenheit{32, 0};
constexpr Constant kCelsiusZeroInRankine{49167, 2};      // 491.67 = 32 + 459.67

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

// value += constant, exactly: both are brought to the finer scale.
void add(Exact& value, Constant constant) {
  const int64_t scale = std::max<int64_t>(value.scale, constant.scale);
  if (!value.digits.empty()) value.digits.append(static_cast<std::size_t>(scale - value.scale), '\0');
  value.scale = scale;
  std::string addend;
  for (uint64_t units = static_cast<uint64_t>(constant.units < 0 ? -constant.units : constant.units); units != 0;
       units /= 10)
    addend.insert(addend.begin(), static_cast<char>(units % 10));
  multiply(addend, value.divisor);
  if (!addend.empty()) addend.append(static_cast<std::size_t>(scale - constant.scale), '\0');
  const bool addend_negative = constant.units < 0;
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

Constant negated(Constant c) { return {-c.units, c.scale}; }

// x 9/5 is x 18/10; a divisor of 9 is taken out instead of multiplying by it.
void times_nine_fifths(Exact& value) {
  if (value.divisor % 9 == 0) {
    value.divisor /= 9;
    multiply(value.digits, 2);
  } else {
    multiply(value.digits, 18);
  }
  value.scale += 1;
}

void times_five_ninths(Exact& value) {
  multiply(value.digits, 5);
  value.divisor *= 9;
}

void to_celsius(Exact& value, Scale from) {
  switch (from) {
    case Scale::Celsius: break;
    case Scale::Kelvin: add(value, negated(kCelsiusZeroInKelvin)); break;
    case Scale::Fahrenheit:
      add(value, negated(kCelsiusZeroInFahrenheit));
      times_five_ninths(value);
      break;
    case Scale::Rankine:
      add(value, negated(kCelsiusZeroInRankine));
      times_five_ninths(value);
      break;
  }
}

void from_celsius(Exact& value, Scale to) {
  switch (to) {
    case Scale::Celsius: break;
    case Scale::Kelvin: add(value, kCelsiusZeroInKelvin); break;
    case Scale::Fahrenheit:
      times_nine_fifths(value);
      add(value, kCelsiusZeroInFahrenheit);
      break;
    case Scale::Rankine:
      times_nine_fifths(value);
      add(value, kCelsiusZeroInRankine);
      break;
  }
}

// Below absolute zero: negative once absolute zero is added in its own scale.
bool below_absolute_zero(const Exact& value, Scale scale) {
  Exact absolute = value;
  if (scale == Scale::Celsius) add(absolute, kCelsiusZeroInKelvin);
  if (scale == Scale::Fahrenheit) add(absolute, kFahrenheitZeroInRankine);
  return absolute.negative;
}

// The significant digits of a non-zero value, rounded half to even, and the
// power of ten of the first: value = 0.d1d2... x 10^(exponent + 1).
struct Rounded {
  std::string digits;  // digit values, exactly `digits` of them
  int64_t exponent;
};

// Rounds by long division of the digits by the divisor: the quotient's
// digits come out one at a time (past the last digit the dividend goes on
// with zeros), and what is left decides the rounding exactly.
Rounded round_significant(const Exact& value, int count) {
  const std::string& m = value.digits;
  const uint32_t divisor = value.divisor;
  Rounded rounded{{}, 0};
  uint32_t remainder = 0;
  std::size_t taken = 0;       // digits of m used so far
  int64_t first = -1;          // the place of the first non-zero quotient digit
  for (int64_t place = 0; static_cast<int>(rounded.digits.size()) < count; ++place) {
    const uint32_t current = remainder * 10 + (taken < m.size() ? static_cast<uint8_t>(m[taken]) : 0);
    ++taken;
    const uint32_t digit = current / divisor;
    remainder = current % divisor;
    if (first < 0 && digit == 0) continue;
    if (first < 0) first = place;
    rounded.digits.push_back(static_cast<char>(digit));
  }
  // What is left, in units of the last digit kept: (remainder x 10^j + S) / (divisor x 10^j),
  // S the j digits of m not yet used. Compared with one half.
  const std::size_t left = taken < m.size() ? m.size() - taken : 0;
  const int64_t twice_minus = 2 * int64_t{remainder} - divisor;
  int against_half;  // -1 below, 0 exactly half, 1 above
  if (twice_minus >= 1) {
    against_half = 1;
  } else if (twice_minus <= -2 || left == 0) {
    against_half = -1;
  } else {  // compare S with 10^j / 2: a 5, then zeros
    const std::string_view rest(m.data() + taken, left);
    against_half = rest[0] > 5 ? 1 : (rest[0] < 5 ? -1 : 0);
    if (against_half == 0 && rest.find_first_not_of('\0', 1) != std::string_view::npos) against_half = 1;
  }
  const bool odd = (rounded.digits.back() & 1) != 0;
  rounded.exponent = static_cast<int64_t>(m.size()) - 1 - first - value.scale;
  if (against_half > 0 || (against_half == 0 && odd)) {
    std::size_t i = rounded.digits.size();
    while (i-- > 0 && rounded.digits[i] == 9) rounded.digits[i] = 0;
    if (i == static_cast<std::size_t>(-1)) {  // 99...9 became 100...0
      rounded.digits[0] = 1;
      ++rounded.exponent;
    } else {
      ++rounded.digits[i];
    }
  }
  return rounded;
}

// printf's %g layout of the rounded digits with the given precision.
void lay_out(bool negative, const Rounded& rounded, int precision, std::string* out) {
  std::size_t significant = rounded.digits.size();
  while (significant > 1 && rounded.digits[significant - 1] == 0) --significant;  // trailing zeros go
  auto digit = [&](std::size_t i) { return static_cast<char>('0' + rounded.digits[i]); };
  out->clear();
  if (negative) out->push_back('-');
  const int64_t e = rounded.exponent;
  if (e < -4 || e >= precision) {
    out->push_back(digit(0));
    if (significant > 1) out->push_back('.');
    for (std::size_t i = 1; i < significant; ++i) out->push_back(digit(i));
    out->push_back('e');
    out->push_back(e < 0 ? '-' : '+');
    const std::string power = std::to_string(e < 0 ? -e : e);
    if (power.size() < 2) out->push_back('0');
    out->append(power);
  } else if (e >= 0) {
    for (int64_t i = 0; i <= e; ++i) out->push_back(static_cast<std::size_t>(i) < significant ? digit(i) : '0');
    if (static_cast<int64_t>(significant) > e + 1) {
      out->push_back('.');
      for (std::size_t i = static_cast<std::size_t>(e) + 1; i < significant; ++i) out->push_back(digit(i));
    }
  } else {
    out->append("0.");
    out->append(static_cast<std::size_t>(-e - 1), '0');
    for (std::size_t i = 0; i < significant; ++i) out->push_back(digit(i));
  }
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == y; });
}

}  // namespace

std::optional<Scale> scale_named(std::string_view name) {
  static constexpr struct {
    const char* letter;
    const char* word;
    Scale scale;
  } kScales[] = {{"c", "celsius", Scale::Celsius},
                 {"f", "fahrenheit", Scale::Fahrenheit},
                 {"k", "kelvin", Scale::Kelvin},
                 {"r", "rankine", Scale::Rankine}};
  for (const auto& s : kScales) {
    if (equal_ignoring_case(name, s.letter) || equal_ignoring_case(name, s.word)) return s.scale;
  }
  return std::nullopt;
}

const char* value_error_text(ValueError error) {
  switch (error) {
    case ValueError::None: return "";
    case ValueError::NotANumber: return "not a number";
    case ValueError::ExponentOutOfRange: return "exponent out of range";
    case ValueError::BelowAbsoluteZero: return "below absolute zero";
  }
  return "";
}

ValueError convert_exact(std::string_view text, Scale from, Scale to, int digits, std::string* out) {
  Exact value;
  const ValueError error = parse(text, &value);
  if (error != ValueError::None) return error;
  if (below_absolute_zero(value, from)) return ValueError::BelowAbsoluteZero;
  if (from != to) {
    to_celsius(value, from);
    from_celsius(value, to);
  }
  if (value.digits.empty()) {
    out->clear();
    out->push_back('0');
    return ValueError::None;
  }
  lay_out(value.negative, round_significant(value, digits), digits, out);
  return ValueError::None;
}
