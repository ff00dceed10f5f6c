// SPDX-License-Identifier: MIT
// The converter: the menu loop and its two temperature formulas.
#pragma once

// (K1 * x) - K2 with K1 and K2 the doubles nearest 5/9 and 160/9.
double fahrenheit_to_celsius(double x);
// 32 + ((9 * x) / 5), rounded after each operation.
double celsius_to_fahrenheit(double x);

// One round: the menu, a choice and, for 1 or 2, a temperature and its result.
// False when the program is to end: choice 3, or the end of the input.
bool converter_round();

// Rounds until one says to end; then ends the process with status 0.
[[noreturn]] void converter_loop();
