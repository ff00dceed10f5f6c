// SPDX-License-Identifier: MIT
// The exact conversion against the slow big-integer reference on arbitrary
// text: the first byte picks the digit count or places, the next two the
// scales (by their rows' order: a new scale leaves what the corpus means
// as it was), the rest is the value. Both must agree on every value: the same result text, or both
// rejecting it. Exponents beyond 300 are left to the unit tests: the
// reference would take too long.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/exact.h"
#include "tests/support/exact_reference.h"

namespace {

bool exponent_too_large_for_the_reference(std::string_view text) {
  const std::size_t e = text.find_first_of("eE");
  if (e == std::string_view::npos) return false;
  int64_t power = 0;
  for (std::size_t i = e + 1; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') power = std::min<int64_t>(power * 10 + (text[i] - '0'), 100000);
  }
  return power > 300;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3 || size > 82) return 0;
  // Bits 4 to 7: significant digits 1, 3, ... 15 or places 0, 4, ... 28.
  const int n = data[0] >> 5;
  const Precision precision = (data[0] & 0x10) != 0 ? Precision{Precision::Kind::Places, n * 4}
                                                      : Precision{Precision::Kind::Significant, 1 + n * 2};
  const std::size_t from_row = data[1] & 15, to_row = data[2] & 15;
  if (from_row >= kScaleCount || to_row >= kScaleCount) return 0;
  const Scale from = kScales[from_row].scale, to = kScales[to_row].scale;
  const std::string_view text(reinterpret_cast<const char*>(data + 3), size - 3);
  if (exponent_too_large_for_the_reference(text)) return 0;
  std::string result;
  const ValueError error = convert_exact(text, from, to, precision, &result);
  const std::optional<std::string> expected = reference_convert(text, from, to, precision);
  if ((error == ValueError::None) != expected.has_value()) std::abort();
  if (expected && result != *expected) std::abort();
  return 0;
}
