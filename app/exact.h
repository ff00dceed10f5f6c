// SPDX-License-Identifier: MIT
// Exact temperature conversion between Celsius, Fahrenheit, Kelvin and
// Rankine, for the command line.
//
// A value is read as the exact decimal it spells, converted exactly
// (C = (F - 32) x 5/9, K = C + 273.15, R = F + 459.67, their inverses and
// compositions: the only denominators are 9 and powers of ten), rounded half
// to even to the asked number of significant digits and laid out as printf's
// %g lays out a number: trailing zeros dropped, the exponent form below 1e-4
// or from 10^digits, "-0" shown as "0".
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class Scale { Celsius, Fahrenheit, Kelvin, Rankine };

// C, F, K or R, or celsius, fahrenheit, kelvin or rankine, in any case.
std::optional<Scale> scale_named(std::string_view name);

inline constexpr int EXACT_DIGITS_MIN = 1;
inline constexpr int EXACT_DIGITS_MAX = 30;
inline constexpr int EXACT_DIGITS_DEFAULT = 15;
// The largest decimal exponent a value may be written with.
inline constexpr int EXACT_EXPONENT_MAX = 9999;

enum class ValueError {
  None,
  NotANumber,          // not an optional sign, digits with an optional point, an optional exponent
  ExponentOutOfRange,  // an exponent of magnitude above EXACT_EXPONENT_MAX
  BelowAbsoluteZero,   // colder than absolute zero in its own scale
};
const char* value_error_text(ValueError error);

// Converts the value text from one scale to another and writes the result,
// rounded to digits significant digits, into *out (replacing what it held).
ValueError convert_exact(std::string_view text, Scale from, Scale to, int digits, std::string* out);
