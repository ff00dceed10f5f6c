// SPDX-License-Identifier: MIT
// Numeric field reads and the text-to-number routines behind them.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/core/core.h"
#include "runtime/input/input_internal.h"

namespace {

constexpr double kTwoTo52 = 4503599627370496.0;
constexpr double kTwoTo63 = 9223372036854775808.0;

// The text after leading blanks (0x20 only; tabs are not skipped here).
struct Trimmed {
  const char* text;
  int64_t length;
};
Trimmed skip_leading_blanks(const char* text, int64_t length) {
  while (length > 0 && *text == ' ') {
    ++text;
    --length;
  }
  return {text, length};
}

// The library conversions need a terminated copy of a counted text; convert
// gets it writable. Field-sized texts stay on the stack.
template <typename Convert>
auto with_terminated_copy(const char* text, int64_t length, Convert convert) {
  char small[FIELD_BUFFER + 8];
  if (length < static_cast<int64_t>(sizeof small)) {
    std::memcpy(small, text, static_cast<std::size_t>(length));
    small[length] = '\0';
    return convert(small);
  }
  std::string copy(text, static_cast<std::size_t>(length));
  return convert(copy.data());
}

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

template <typename Unsigned>
Unsigned prefix_digits(const char* text, int64_t length, int base) {
  if (length <= 0 || (base != 2 && base != 8 && base != 16)) return 0;
  Unsigned value = 0;
  for (int64_t i = 0; i < length; ++i) {
    const int digit = digit_value(text[i]);
    if (digit >= base) break;
    value = static_cast<Unsigned>(value * static_cast<Unsigned>(base) + static_cast<Unsigned>(digit));
  }
  return value;
}

// An '&' form ("&H", "&O", "&B", or '&' then octal digits): the base and where the digits start.
struct AmpersandForm {
  int base;
  int64_t digits_from;
};
AmpersandForm ampersand_form(char second) {
  switch (second) {
    case 'H': case 'h': return {16, 2};
    case 'O': case 'o': return {8, 2};
    case 'B': case 'b': return {2, 2};
    default: return {8, 1};
  }
}

}  // namespace

uint32_t prefix_digits32(const char* text, int64_t length, int base) {
  return prefix_digits<uint32_t>(text, length, base);
}

uint64_t prefix_digits64(const char* text, int64_t length, int base) {
  return prefix_digits<uint64_t>(text, length, base);
}

uint32_t text_to_int32(const char* text, int64_t length) {
  const auto [t, n] = skip_leading_blanks(text, length);
  if (n <= 0) return 0;
  if (n == 1 || t[0] != '&') {
    return static_cast<uint32_t>(
        with_terminated_copy(t, n, [](const char* s) { return std::strtoul(s, nullptr, 10); }));
  }
  const AmpersandForm form = ampersand_form(t[1]);
  return prefix_digits32(t + form.digits_from, n - form.digits_from, form.base);
}

uint64_t text_to_int64(const char* text, int64_t length) {
  const auto [t, n] = skip_leading_blanks(text, length);
  if (n <= 0) return 0;
  int base = 10;
  int64_t from = 0;
  if (n > 1 && t[0] == '&') {
    const AmpersandForm form = ampersand_form(t[1]);
    base = form.base;
    from = form.digits_from;
  }
  return with_terminated_copy(t + from, n - from,
                              [base](const char* s) { return std::strtoull(s, nullptr, base); });
}

double text_to_double(const char* text, int64_t length) {
  const auto [t, n] = skip_leading_blanks(text, length);
  if (n <= 0) return 0.0;
  if (n >= 2 && t[0] == '&') {
    const AmpersandForm form = ampersand_form(t[1]);
    return static_cast<double>(
        static_cast<int64_t>(prefix_digits64(t + form.digits_from, n - form.digits_from, form.base)));
  }
  if (n >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) return 0.0;
  return with_terminated_copy(t, n, [](char* s) {
    for (char* c = s; *c != '\0'; ++c) *c = as_exponent_letter(*c);
    return std::strtod(s, nullptr);
  });
}

int64_t double_to_int64_rounded(double value) {
  double d = value;
  if (std::fabs(d) < kTwoTo52) {
    // Adding and removing 2^52 rounds to an integer in the current mode: nearest, ties to even.
    const double magnitude = (std::fabs(d) + kTwoTo52) - kTwoTo52;
    d = std::copysign(magnitude, d);
  }
  // Out of range, infinite and NaN all give the lowest value, never an undefined cast.
  if (!(std::fabs(d) < kTwoTo63)) return INT64_MIN;
  return static_cast<int64_t>(d);
}

namespace {
// Scans the next field of the current INPUT statement and notes whether the input had ended.
FieldScan scan_statement_field(char (&field)[FIELD_BUFFER]) {
  InputContext* context = input_context();
  const FieldScan scan = scan_field(context, field, FIELD_LIMIT);
  context->reached_end = scan.at_end;
  return scan;
}
}  // namespace

void read_int64_field(int64_t* out) {
  char field[FIELD_BUFFER];
  const FieldScan scan = scan_statement_field(field);
  if (scan.float_mark) {
    *out = double_to_int64_rounded(text_to_double(field, scan.length));
  } else if (scan.length <= 9) {
    *out = static_cast<int32_t>(text_to_int32(field, scan.length));
  } else {
    *out = static_cast<int64_t>(text_to_int64(field, scan.length));
  }
  set_error(ERROR_NONE);
}

void read_double_field(double* out) {
  char field[FIELD_BUFFER];
  const FieldScan scan = scan_statement_field(field);
  if (scan.float_mark) {
    *out = std::strtod(field, nullptr);
  } else if (scan.length <= 9) {
    *out = static_cast<int32_t>(text_to_int32(field, scan.length));
  } else if (scan.length <= 18 || field[0] == '&') {
    *out = static_cast<double>(static_cast<int64_t>(text_to_int64(field, scan.length)));
  } else {
    *out = std::strtod(field, nullptr);
  }
  set_error(ERROR_NONE);
}
