// SPDX-License-Identifier: MIT
// The 128-bit unsigned integers the exact number layouts work in (the print
// layer's %g and the converter's exact conversion): powers of ten up to
// 10^38, and bit lengths for telling whether a product still fits.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

using u128 = unsigned __int128;

inline constexpr auto kPowersOfTen = [] {
  std::array<u128, 39> powers{};
  powers[0] = 1;
  for (std::size_t n = 1; n < powers.size(); ++n) powers[n] = powers[n - 1] * 10;
  return powers;
}();

// 10^n, n from 0 to 38.
inline u128 power_of_ten(int64_t n) { return kPowersOfTen[static_cast<std::size_t>(n)]; }

// The number of bits x takes (0 for 0).
inline int bit_length(u128 x) {
  const auto high = static_cast<uint64_t>(x >> 64);
  return high != 0 ? 128 - std::countl_zero(high) : 64 - std::countl_zero(static_cast<uint64_t>(x));
}
