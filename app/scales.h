// SPDX-License-Identifier: MIT
// The temperature scales, each one row of kScales: its names, its suffix,
// and where it stands against Celsius, exactly. The names and suffixes a
// value or an option may use, the exact conversion's formulas (both of its
// paths), the absolute zero each scale stops at, --help's list and the
// tests' reference are all read off the rows: a new scale is a new
// enumerator and its row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

enum class Scale : uint8_t { Celsius, Fahrenheit, Kelvin, Rankine, Reaumur, Romer, Delisle, Newton };

struct ScaleRow {
  Scale scale;
  std::string_view name;      // in any case: "celsius"
  std::string_view spelling;  // the name in its own letters, as written: "réaumur" (or "")
  std::string_view letters;   // the suffix, in any case, after a degree sign or not: "C", "Re"
  std::string_view lettered;  // the suffix in its own letters, as written: "Ré" (or "")
  std::string_view sign;      // a character of its own: "℃" (or "")
  std::string_view shown;     // as --help shows it: "°C"
  // Celsius = (value - offset) x factor: the offset in hundredths, the factor a fraction.
  int64_t offset_hundredths;
  int64_t factor_numerator;
  int64_t factor_denominator;
};

inline constexpr ScaleRow kScales[] = {
    {Scale::Celsius, "celsius", "", "C", "", "\xe2\x84\x83", "\xc2\xb0" "C", 0, 1, 1},                   // ℃
    {Scale::Fahrenheit, "fahrenheit", "", "F", "", "\xe2\x84\x89", "\xc2\xb0" "F", 3200, 5, 9},         // ℉
    {Scale::Kelvin, "kelvin", "", "K", "", "\xe2\x84\xaa", "K", 27315, 1, 1},                            // the Kelvin sign
    {Scale::Rankine, "rankine", "", "R", "", "", "\xc2\xb0" "R", 49167, 5, 9},
    {Scale::Reaumur, "reaumur", "r\xc3\xa9" "aumur", "Re", "R\xc3\xa9", "", "\xc2\xb0" "R\xc3\xa9", 0, 5, 4},
    {Scale::Romer, "romer", "r\xc3\xb8" "mer", "Ro", "R\xc3\xb8", "", "\xc2\xb0" "R\xc3\xb8", 750, 40, 21},
    {Scale::Delisle, "delisle", "", "De", "", "", "\xc2\xb0" "De", 15000, -2, 3},  // runs backwards: 0 is the boiling point
    {Scale::Newton, "newton", "", "N", "", "", "\xc2\xb0" "N", 0, 100, 33},
};
inline constexpr std::size_t kScaleCount = std::size(kScales);

constexpr bool rows_in_order() {
  for (std::size_t i = 0; i < kScaleCount; ++i) {
    if (static_cast<std::size_t>(kScales[i].scale) != i || kScales[i].factor_denominator <= 0) return false;
  }
  return true;
}
static_assert(rows_in_order(), "a row for each scale, in the enumerators' order, each with a positive denominator");

constexpr const ScaleRow& row_of(Scale scale) { return kScales[static_cast<std::size_t>(scale)]; }
