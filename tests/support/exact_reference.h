// SPDX-License-Identifier: MIT
// A slow reference for the exact conversions, for tests and the fuzz target:
// plain big integers (binary limbs, long division bit by bit), the formulas
// written as fractions, the rounding found by comparing twice the remainder
// with the divisor, and the %g layout built from the digits. It shares
// nothing with the program's own decimal arithmetic.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/exact.h"

// The result text, or nullopt when the value is rejected (for any reason).
std::optional<std::string> reference_convert(std::string_view text, Scale from, Scale to, int digits);
std::optional<std::string> reference_convert(std::string_view text, Scale from, Scale to, Precision precision);
