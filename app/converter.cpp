// SPDX-License-Identifier: MIT
#include "app/converter.h"

#include <bit>
#include <cstdint>

#include "runtime/startup.h"
#include "runtime/input/input.h"
#include "runtime/print/print.h"

namespace {

// The constants by their bit patterns, so no decimal literal can round them differently.
constexpr double K1 = std::bit_cast<double>(uint64_t{0x3FE1C71C71C71C72});  // nearest 5/9
constexpr double K2 = std::bit_cast<double>(uint64_t{0x4031C71C71C71C72});  // nearest 160/9
constexpr double kNine = 9.0;
constexpr double kFive = 5.0;
constexpr double kThirtyTwo = 32.0;

void print_menu() {
  print_string(CONSOLE, "Choose an option:", PRINT_NEWLINE);
  print_string(CONSOLE, "1 For Fahrenheit To Celsius", PRINT_NEWLINE);
  print_string(CONSOLE, "2 For Celsius To Fahrenheit", PRINT_NEWLINE);
  print_string(CONSOLE, "3 For exit...", PRINT_NEWLINE);
}

// Reads one temperature after its prompt; false at the end of the input.
bool read_temperature(const char* prompt, double* temperature) {
  input_start(prompt, Question::Omit, LineEnd::Print);
  read_double_field(temperature);
  return !input_reached_end();
}

}  // namespace

double fahrenheit_to_celsius(double x) {
  const double product = K1 * x;
  return product - K2;
}

double celsius_to_fahrenheit(double x) {
  const double product = kNine * x;
  const double quotient = product / kFive;
  return kThirtyTwo + quotient;
}

bool converter_round() {
  print_menu();
  input_start("", Question::Ask, LineEnd::Print);
  int64_t choice = 0;
  read_int64_field(&choice);
  if (input_reached_end() || choice == 3) return false;
  double temperature = 0.0;
  if (choice == 1) {
    if (!read_temperature("Input temperature in Fahrenheit: ", &temperature)) return false;
    print_string(CONSOLE, "C= ", PRINT_LINE_OPEN);
    print_double(CONSOLE, fahrenheit_to_celsius(temperature), PRINT_NEWLINE);
  } else if (choice == 2) {
    if (!read_temperature("Input temperature in Celsius: ", &temperature)) return false;
    print_string(CONSOLE, "F= ", PRINT_LINE_OPEN);
    print_double(CONSOLE, celsius_to_fahrenheit(temperature), PRINT_NEWLINE);
  }
  return true;  // any other choice: the menu again
}

void converter_loop() {
  while (converter_round()) {
  }
  program_end(0);
}
