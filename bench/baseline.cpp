// SPDX-License-Identifier: MIT
// The floor for the batch benchmark: the smallest program that writes exactly
// what tempconv writes for a batch of plain decimal choices and temperatures
// (one per line), through one fully buffered stdio stream. Line reads,
// strtod and "%.16g", nothing else.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void print_number(double value) {
  char buffer[40];
  std::snprintf(buffer + 1, sizeof buffer - 1, "%.16g", value);
  if (buffer[1] != '-') {
    buffer[0] = ' ';
    std::fputs(buffer, stdout);
  } else {
    std::fputs(buffer + 1, stdout);
  }
  std::fputc('\n', stdout);
}

}  // namespace

int main() {
  const double k1 = std::bit_cast<double>(uint64_t{0x3FE1C71C71C71C72});
  const double k2 = std::bit_cast<double>(uint64_t{0x4031C71C71C71C72});
  char line[256];
  for (;;) {
    std::fputs("Choose an option:\n1 For Fahrenheit To Celsius\n2 For Celsius To Fahrenheit\n3 For exit...\n",
               stdout);
    if (std::fgets(line, sizeof line, stdin) == nullptr) return 0;
    const double choice = std::strtod(line, nullptr);
    if (choice == 3) return 0;
    if (choice != 1 && choice != 2) continue;
    if (std::fgets(line, sizeof line, stdin) == nullptr) return 0;
    const double x = std::strtod(line, nullptr);
    if (choice == 1) {
      std::fputs("C= ", stdout);
      const double product = k1 * x;
      print_number(product - k2);
    } else {
      std::fputs("F= ", stdout);
      const double product = 9.0 * x;
      const double quotient = product / 5.0;
      print_number(32.0 + quotient);
    }
  }
}
