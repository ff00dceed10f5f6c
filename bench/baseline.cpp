// The floor for the batch benchmark: the smallest program that writes exactly
// what tempconv writes for a batch of plain decimal choices and temperatures
// (one per line), with the same number of flushes: each menu line, label,
// number and line end is its own write. Line reads and strtod, nothing else.
//
// With BASELINE_ISATTY set in the environment it also asks isatty() on
// standard input before each read, as tempconv's INPUT statement must: the
// difference between the two baselines is the price of that check.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

void put(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void put_line(const char* text) {
  put(text);
  put("\n");
}

void print_number(double value) {
  char buffer[40];
  std::snprintf(buffer + 1, sizeof buffer - 1, "%.16g", value);
  if (buffer[1] != '-') {
    buffer[0] = ' ';
    put(buffer);
  } else {
    put(buffer + 1);
  }
  put("\n");
}

}  // namespace

int main() {
  const double k1 = std::bit_cast<double>(uint64_t{0x3FE1C71C71C71C72});
  const double k2 = std::bit_cast<double>(uint64_t{0x4031C71C71C71C72});
  const bool check_terminal = std::getenv("BASELINE_ISATTY") != nullptr;
  char line[256];
  for (;;) {
    put_line("Choose an option:");
    put_line("1 For Fahrenheit To Celsius");
    put_line("2 For Celsius To Fahrenheit");
    put_line("3 For exit...");
    if (check_terminal) (void)isatty(STDIN_FILENO);
    if (std::fgets(line, sizeof line, stdin) == nullptr) return 0;
    const double choice = std::strtod(line, nullptr);
    if (choice == 3) return 0;
    if (choice != 1 && choice != 2) continue;
    if (check_terminal) (void)isatty(STDIN_FILENO);
    if (std::fgets(line, sizeof line, stdin) == nullptr) return 0;
    const double x = std::strtod(line, nullptr);
    if (choice == 1) {
      put("C= ");
      const double product = k1 * x;
      print_number(product - k2);
    } else {
      put("F= ");
      const double product = 9.0 * x;
      const double quotient = product / 5.0;
      print_number(32.0 + quotient);
    }
  }
}
