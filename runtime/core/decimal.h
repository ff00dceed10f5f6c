// SPDX-License-Identifier: MIT
// The one reader of the small decimal numbers the program meets: option
// values, inputrc settings, environment variables and the numbers in a
// terminal's replies. No I/O, no allocation, no locale: safe anywhere, a
// signal handler included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The run of ASCII digits at the start of text, and its value held at most
// when it is larger, however long the run.
struct LeadingDigits {
  uint64_t value;
  std::size_t length;  // 0: text does not begin with a digit
};
constexpr LeadingDigits leading_digits(std::string_view text, uint64_t most) {
  LeadingDigits found{0, 0};
  for (; found.length < text.size(); ++found.length) {
    const char c = text[found.length];
    if (c < '0' || c > '9') break;
    const auto digit = static_cast<uint64_t>(c - '0');
    const uint64_t grown = found.value > most / 10 ? most : found.value * 10 + digit;
    found.value = grown < most ? grown : most;
  }
  return found;
}

// The whole text as a number, digits only (with a '-' or '+' before them
// where signed), held within [lowest, highest]; none when it is empty or
// holds anything else.
constexpr std::optional<int64_t> decimal_number(std::string_view text, int64_t lowest, int64_t highest,
                                                bool is_signed = false) {
  const bool negative = is_signed && !text.empty() && text[0] == '-';
  if (is_signed && !text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  const int64_t bound = negative ? -lowest : highest;
  const uint64_t most = bound > 0 ? static_cast<uint64_t>(bound) : 0;
  const LeadingDigits digits = leading_digits(text, most);
  if (digits.length == 0 || digits.length != text.size()) return std::nullopt;
  const int64_t value = negative ? -static_cast<int64_t>(digits.value) : static_cast<int64_t>(digits.value);
  return value < lowest ? lowest : value > highest ? highest : value;
}
