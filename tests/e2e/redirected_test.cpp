// The real binary with redirected standard input: exact output, exit status,
// the end-of-input rule, silence on standard error, and hostile input.
#include <string>

#include <gtest/gtest.h>

#include "tests/e2e/menu.h"

#include "tests/support/process.h"
#include "tests/support/program.h"

namespace {


std::string menus(int count) {
  std::string result;
  for (int i = 0; i < count; ++i) result += kMenu;
  return result;
}

void expect_run(const std::string& input, const std::string& expected_out) {
  const ProcessResult r = run_program(input);
  EXPECT_EQ(r.out, expected_out) << "input: " << input;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.signal, 0);
}

TEST(Redirected, TheWorkedSession) {
  expect_run("1\n212\n2\n37\n3\n", kMenu + "C=  100\n" + kMenu + "F=  98.59999999999999\n" + kMenu);
}

TEST(Redirected, WorkedResults) {
  const struct {
    const char* input;
    const char* line;
  } cases[] = {
      {"1\n100\n3\n", "C=  37.77777777777778\n"}, {"1\n-40\n3\n", "C= -40\n"},
      {"1\n0\n3\n", "C= -17.77777777777778\n"},   {"1\n37.5\n3\n", "C=  3.055555555555557\n"},
      {"1\n-230\n3\n", "C= -145.5555555555556\n"}, {"2\n25.5\n3\n", "F=  77.90000000000001\n"},
      {"2\n-49.5\n3\n", "F= -57.09999999999999\n"}, {"2\n1e308\n3\n", "F=  inf\n"},
      {"1\n\n3\n", "C= -17.77777777777778\n"},     // an empty temperature converts 0
      {"1,212\n3\n", "C=  100\n"},                  // choice and temperature on one line
      {"1.4\n32\n3\n", "C=  0\n"},                  // 1.4 rounds to choice 1
      {"1.5\n0\n3\n", "F=  32\n"},                  // 1.5 rounds to 2
      {"\"1\" \"212\"\n3\n", "C=  100\n"},
      {"1\r\n212\r\n3\r\n", "C=  100\n"},
      {"&B1\n&HD4\n3\n", "C=  100\n"},
  };
  for (const auto& c : cases) expect_run(c.input, kMenu + c.line + kMenu);
}

TEST(Redirected, OtherChoicesShowTheMenuAgain) {
  expect_run("0\n4\n-1\n3.5\nabc\n3\n", menus(6));
  expect_run("2.5\n100\n3\n", kMenu + "F=  212\n" + kMenu);  // 2.5 rounds to 2
}

TEST(Redirected, PushedBackChoiceIsLostWhenTheResultIsPrinted) {
  // The 2 is pushed back after 100, discarded by "C= "; the next choice reads the empty rest.
  expect_run("1 100 2\n37\n3\n", kMenu + "C=  37.77777777777778\n" + menus(3));
  expect_run("1 212 3\n3\n", kMenu + "C=  100\n" + menus(2));
}

TEST(Redirected, EndOfInputEndsQuietlyWithStatusZero) {
  const struct {
    const char* input;
    std::string out;
  } cases[] = {
      {"", menus(1)},
      {"1\n", menus(1)},                          // no temperature: no result line
      {"1\n212\n", kMenu + "C=  100\n" + kMenu},
      {"1\n212", kMenu + "C=  100\n" + kMenu},   // no final line end
      {"\n", menus(2)},                           // an empty line reads as 0
      {"   ", menus(2)},                          // so does a line of blanks
      {"1\r", menus(1)},
  };
  for (const auto& c : cases) expect_run(c.input, c.out);
}

TEST(Redirected, HostileBytesAreOrdinaryInput) {
  const std::string nul_line("\0\0\x01\xff\x80\n", 6);
  expect_run(nul_line + "3\n", menus(2));
  expect_run("1\n" + std::string(70, '9') + "\n3\n", kMenu + "C=  5.555555555555556e+66\n" + menus(2));
  expect_run("\"unterminated, quote\n3\n", menus(2));
  expect_run("2\n1e-380\n3\n", kMenu + "F=  32\n" + kMenu);  // underflows to 0
  // 400 digits: fields of 67 bytes each, every one a choice that shows the menu again.
  expect_run(std::string(400, '7') + "\n3\n", menus(7));
}

TEST(Redirected, ArgumentsAndEnvironmentDoNotMatter) {
  const ProcessResult r = run_program("3\n", {"TERM=xterm", "LC_ALL=de_DE.UTF-8"});
  EXPECT_EQ(r.out, kMenu);  // no control sequence when standard input is not a terminal
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exit_status, 0);
}

struct Blanks {
  std::size_t remaining;
};

std::size_t generate_blanks_then_exit(char* buffer, std::size_t size, void* state) {
  auto* blanks = static_cast<Blanks*>(state);
  if (blanks->remaining == 0) return 0;
  std::size_t count = std::min(size, blanks->remaining);
  std::fill(buffer, buffer + count, ' ');
  blanks->remaining -= count;
  if (blanks->remaining == 0 && count >= 2) {
    buffer[count - 2] = '3';
    buffer[count - 1] = '\n';
  }
  return count;
}

TEST(Redirected, AHugeLineIsReadInConstantMemory) {
  if (program_is_wrapped()) GTEST_SKIP() << "memory figures would be the wrapper's";
  Blanks blanks{128u << 20};  // 128 MiB of blanks, then the choice 3
  const ProcessResult r = run_program_streaming(generate_blanks_then_exit, &blanks);
  EXPECT_EQ(r.out, kMenu);
  EXPECT_EQ(r.exit_status, 0);
  // Far below the input's size: nothing of the line is kept. Sanitizers add their own overhead.
  EXPECT_LT(r.max_rss_kib, 48 * 1024);
}

}  // namespace
