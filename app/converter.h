// The converter: the menu loop and its two temperature formulas.
#pragma once

// (K1 * x) - K2 with K1 and K2 the doubles nearest 5/9 and 160/9.
double fahrenheit_to_celsius(double x);
// 32 + ((9 * x) / 5), rounded after each operation.
double celsius_to_fahrenheit(double x);

// Shows the menu, reads a choice and a temperature, prints the result, and
// repeats until choice 3 or the end of the input; both end the process.
[[noreturn]] void converter_loop();
