// SPDX-License-Identifier: MIT
// Double to text as print statements show it: "%.<digits>g", with a blank
// where the sign of a non-negative number would be.
//
// printf's %g costs more than everything else a conversion does, so the
// usual case is done here exactly, with 128-bit integers: the value is
// m * 2^e, and its leading digits are m * 2^e * 10^p rounded to the nearest
// integer, ties to even, for the power p that leaves that many digits. What
// does not fit 128 bits (very large or small exponents, subnormals), and
// infinities and NaNs, still goes to snprintf. (std::to_chars would do the
// same, but brings in the whole maths library for two rounding-mode calls.)
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/print/print.h"
#include "runtime/print/wide_integer.h"

namespace {

constexpr int kMaxFastDigits = 17;

// round(m * 2^e * 10^p), ties to even, or false if a term does not fit 128 bits.
bool scaled_and_rounded(uint64_t m, int e, int p, u128& result) {
  if (p > 38 || p < -38 || e > 60 || e < -120) return false;
  u128 numerator = m;
  u128 denominator = 1;
  const u128 ten_power = power_of_ten(p < 0 ? -p : p);
  if (p >= 0) {
    if (bit_length(numerator) + bit_length(ten_power) > 127) return false;
    numerator *= ten_power;
  } else {
    denominator = ten_power;
  }
  if (e >= 0) {
    if (bit_length(numerator) + e > 127) return false;
    numerator <<= e;
  } else {
    if (bit_length(denominator) - e > 127) return false;
    denominator <<= -e;
  }
  result = numerator / denominator;
  const u128 remainder = numerator % denominator;
  const u128 rest = denominator - remainder;
  if (remainder > rest || (remainder == rest && (result & 1) != 0)) ++result;
  return true;
}

// Writes the text of a positive finite value with the given significant
// digits (1 to 17) exactly as %g would; false where the fast path cannot.
bool format_general(char* out, double value, int digits) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  if (biased == 0 || biased == 0x7FF) return false;  // subnormal, infinity, NaN
  const uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  const int e = biased - 1075;
  // The decimal exponent x of the rounded value: 10^(digits-1) <= round(v * 10^(digits-1-x)) < 10^digits.
  int x = ((e + 52) * 1233) >> 12;  // floor(log2(v) * log10(2)), give or take one
  const u128 lowest = power_of_ten(digits - 1);
  const u128 limit = power_of_ten(digits);
  u128 n = 0;
  for (int attempt = 0;; ++attempt) {
    if (attempt == 3 || !scaled_and_rounded(m, e, digits - 1 - x, n)) return false;
    if (n >= limit) {
      ++x;
    } else if (n < lowest) {
      --x;
    } else {
      break;
    }
  }
  char text[kMaxFastDigits];
  for (int i = digits - 1; i >= 0; --i) {
    text[i] = static_cast<char>('0' + static_cast<int>(n % 10));
    n /= 10;
  }
  *lay_out_general(out, false, text, digits, x, digits) = '\0';
  return true;
}

}  // namespace

char* lay_out_general(char* out, bool negative, const char* digits, int count, int64_t exponent, int precision) {
  while (count > 1 && digits[count - 1] == '0') --count;  // trailing zeros are never shown
  char* p = out;
  if (negative) *p++ = '-';
  if (exponent >= -4 && exponent < precision) {  // fixed notation
    if (exponent < 0) {
      *p++ = '0';
      *p++ = '.';
      for (int64_t i = 0; i < -exponent - 1; ++i) *p++ = '0';
      std::memcpy(p, digits, static_cast<std::size_t>(count));
      p += count;
    } else {
      const auto whole = static_cast<std::size_t>(exponent + 1);  // digits before the point
      const std::size_t copied = std::min(whole, static_cast<std::size_t>(count));
      std::memcpy(p, digits, copied);
      p += copied;
      for (std::size_t i = copied; i < whole; ++i) *p++ = '0';
      if (static_cast<std::size_t>(count) > whole) {
        *p++ = '.';
        std::memcpy(p, digits + whole, count - whole);
        p += count - whole;
      }
    }
  } else {  // exponent notation, at least two exponent digits
    *p++ = digits[0];
    if (count > 1) {
      *p++ = '.';
      std::memcpy(p, digits + 1, static_cast<std::size_t>(count - 1));
      p += count - 1;
    }
    *p++ = 'e';
    *p++ = exponent < 0 ? '-' : '+';
    char power[20];
    int length = 0;
    for (int64_t magnitude = exponent < 0 ? -exponent : exponent; magnitude != 0 || length < 2; magnitude /= 10)
      power[length++] = static_cast<char>('0' + magnitude % 10);
    while (length > 0) *p++ = power[--length];
  }
  return p;
}

char* number_to_text(char* buffer, int32_t digits, bool sign_blank, double value) {
  if (digits < 0) digits = 0;
  char* start = sign_blank ? buffer + 1 : buffer;
  const int precision = digits == 0 ? 1 : digits;  // %g treats a precision of 0 as 1
  const bool negative = std::signbit(value);
  const double magnitude = negative ? -value : value;
  bool done = false;
  if (precision <= kMaxFastDigits) {
    char* digits_start = start + (negative ? 1 : 0);
    if (magnitude == 0.0) {
      digits_start[0] = '0';
      digits_start[1] = '\0';
      done = true;
    } else {
      done = format_general(digits_start, magnitude, precision);
    }
    if (done && negative) start[0] = '-';
  }
  if (!done) {
    // %g is at most digits + 7 characters: sign, digits, point and an exponent
    // such as e-308; the caller's buffer holds digits + 9 bytes.
    std::snprintf(start, static_cast<std::size_t>(digits) + 8, "%.*g", static_cast<int>(digits), value);
  }
  if (sign_blank && start[0] != '-') {
    buffer[0] = ' ';
    return buffer;
  }
  return start;
}
