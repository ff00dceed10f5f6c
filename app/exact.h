// SPDX-License-Identifier: MIT
// Exact temperature conversion between the scales of scales.h, for the
// command line.
//
// A value is read as the exact decimal it spells, converted exactly (each
// scale's row gives it against Celsius as an offset and a fraction: C =
// (F - 32) x 5/9, C = K - 273.15, C = (Ro - 7.5) x 40/21, ...; a conversion is
// their composition, one fraction of any denominator), and rounded
// half to even: to significant digits, laid out as printf's %g lays out a
// number (trailing zeros dropped, the exponent form below 1e-4 or from
// 10^digits), or to places after the point, laid out as %f does. "-0" is
// shown as "0". A value may end with its scale ("212F", "98.6°F", "37 °C",
// "300K").
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/scales.h"


// A reading is a point on a scale (10 C is 50 F); a difference is an
// interval between two readings (10 C is 18 F): no offset, and no absolute
// zero to stay above.
enum class Quantity : uint8_t { Reading, Difference };

// A scale's letters in any case (C, Re), optionally after a degree sign (°),
// or in its own letters (Ré), or its sign (℃, ℉, K: the Kelvin sign), or its
// name in any case (celsius, or in its own letters: réaumur).
std::optional<Scale> scale_named(std::string_view name);

inline constexpr int EXACT_DIGITS_MIN = 1;
inline constexpr int EXACT_DIGITS_MAX = 30;
inline constexpr int EXACT_DIGITS_DEFAULT = 15;
inline constexpr int EXACT_PLACES_MAX = 30;
// The largest decimal exponent a value may be written with.
inline constexpr int EXACT_EXPONENT_MAX = 9999;
// The longest value, in bytes: a longer one is rejected without being held.
inline constexpr std::size_t EXACT_VALUE_MAX = 4096;

// How results are rounded: to significant digits (1 to 30) or to places
// after the point (0 to 30).
struct Precision {
  enum class Kind : uint8_t { Significant, Places };
  Kind kind = Kind::Significant;
  int count = EXACT_DIGITS_DEFAULT;
};

enum class ValueError {
  None,
  NotANumber,          // not an optional sign, digits with an optional point, an optional exponent
  ExponentOutOfRange,  // an exponent of magnitude above EXACT_EXPONENT_MAX
  BelowAbsoluteZero,   // colder than absolute zero in its own scale
  TooLong,             // longer than EXACT_VALUE_MAX bytes
  UnclosedQuote,       // a quoted field whose quote the input never closes (the filter's)
  NoScale,             // no suffix, and no scale to convert from given
  OtherScale,          // a suffix that contradicts the scale to convert from
};
const char* value_error_text(ValueError error);

// A value and the scale its suffix names, if it has one: a scale's letters
// as scale_named reads them, or its sign, with an optional blank before.
struct Suffixed {
  std::string_view number;
  std::optional<Scale> scale;
};
Suffixed split_scale_suffix(std::string_view value);

// What to convert: from a scale (or the one a value's suffix names), to a
// scale, rounded as asked; readings or differences.
struct Conversion {
  std::optional<Scale> from;
  Scale to = Scale::Celsius;
  Precision precision;
  Quantity quantity = Quantity::Reading;
};

// Converts a value, perhaps with its scale's suffix. The result replaces *out.
ValueError convert_value(std::string_view value, const Conversion& conversion, std::string* out);
// The number alone, from a known scale.
ValueError convert_exact(std::string_view number, Scale from, Scale to, Precision precision, std::string* out,
                         Quantity quantity = Quantity::Reading);
inline ValueError convert_exact(std::string_view number, Scale from, Scale to, int digits, std::string* out) {
  return convert_exact(number, from, to, Precision{Precision::Kind::Significant, digits}, out);
}
