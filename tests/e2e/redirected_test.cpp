// SPDX-License-Identifier: MIT
// The real binary with redirected standard input: exact output, exit status,
// the end-of-input rule, silence on standard error, and hostile input.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/menu.h"

#include "tests/support/process.h"
#include "tests/support/program.h"
#include "tests/support/temp_dir.h"

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
    std::vector<const char*> lines;  // the result lines, each followed by the menu
  } cases[] = {
      {"1\n100\n3\n", {"C=  37.77777777777778\n"}}, {"1\n-40\n3\n", {"C= -40\n"}},
      {"1\n0\n3\n", {"C= -17.77777777777778\n"}},   {"1\n37.5\n3\n", {"C=  3.055555555555557\n"}},
      {"1\n-230\n3\n", {"C= -145.5555555555556\n"}}, {"2\n25.5\n3\n", {"F=  77.90000000000001\n"}},
      {"2\n-49.5\n3\n", {"F= -57.09999999999999\n"}}, {"2\n1e308\n3\n", {"F=  inf\n"}},
      {"1\n\n3\n", {"C= -17.77777777777778\n"}},     // an empty temperature converts 0
      {"1,212\n3\n", {"C=  100\n"}},                  // choice and temperature on one line
      {"1.4\n32\n3\n", {"C=  0\n"}},                  // 1.4 rounds to choice 1
      {"1.5\n0\n3\n", {"F=  32\n"}},                  // 1.5 rounds to 2
      {"\"1\" \"212\"\n3\n", {"C=  100\n"}},
      {"1\r\n212\r\n3\r\n", {"C=  100\n"}},
      {"&B1\n&HD4\n3\n", {"C=  100\n"}},
      // A value after a blank on the same line is the next value, whatever was printed meanwhile.
      {"1 100 2\n37\n3\n", {"C=  37.77777777777778\n", "F=  98.59999999999999\n"}},
      {"1 212 3\n", {"C=  100\n"}},
      {"1\r212\r2\r37\r3\r", {"C=  100\n", "F=  98.59999999999999\n"}},  // lone CR line ends
      {"2\n1\"2 3\"\n", {"F=  33.8\n"}},
  };
  for (const auto& c : cases) {
    std::string expected = kMenu;
    for (const char* line : c.lines) expected += line + kMenu;
    expect_run(c.input, expected);
  }
}

TEST(Redirected, TheSameBytesIntoAFileAsIntoAPipe) {
  TempDir dir("tempconv-out");
  ASSERT_TRUE(dir.made());
  RunOptions to_file;
  to_file.stdout_path = dir.path() + "/out";
  const ProcessResult r = run_program("1\n212\n2\n37\n3\n", to_file);
  EXPECT_EQ(r.exit_status, 0);
  std::ifstream file(to_file.stdout_path);
  const std::string written((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, kMenu + "C=  100\n" + kMenu + "F=  98.59999999999999\n" + kMenu);
}

TEST(Redirected, FailingStandardStreamsEndWithStatusOne) {
  RunOptions full, closed, directory;
  full.stdout_path = "/dev/full";  // every write fails with ENOSPC
  closed.stdout_closed = true;     // every write fails with EBADF
  directory.stdin_path = "/";      // every read fails with EISDIR
  for (const RunOptions* options : {&full, &closed, &directory}) {
    const ProcessResult r = run_program("1\n212\n3\n", *options);
    EXPECT_EQ(r.exit_status, 1) << options->stdout_path << options->stdin_path;
    EXPECT_EQ(r.err, "");
  }
}

// Conversions without end, for a reader that stops reading.
std::size_t generate_conversions(char* buffer, std::size_t size, void* state) {
  auto* remaining = static_cast<std::size_t*>(state);
  const std::string pair = "1\n212\n";
  std::size_t count = 0;
  while (*remaining > 0 && count + pair.size() <= size) {
    pair.copy(buffer + count, pair.size());
    count += pair.size();
    --*remaining;
  }
  return count;
}

TEST(Redirected, AReaderThatGoesAwayEndsTheProgram) {
  std::size_t conversions = 20'000'000;  // 140 MB of input the program must not go on reading
  RunOptions options;
  options.generate = generate_conversions;
  options.generator_state = &conversions;
  options.stop_reading_after = 100;  // as "head -1" does; SIGPIPE is ignored, so the write fails with EPIPE
  const ProcessResult r = run_program("", options);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_LT(r.input_written, std::size_t{8} << 20);
}

TEST(Redirected, ADriverOnTwoPipesGetsEachAnswerBeforeTheNextQuestion) {
  Coprocess program;
  ASSERT_TRUE(program.read_until(kMenu, 5000));
  program.write("1\n");
  program.write("212\n");
  ASSERT_TRUE(program.read_until("C=  100\n" + kMenu, 5000)) << program.output();
  program.write("2\n37\n");
  ASSERT_TRUE(program.read_until("F=  98.59999999999999\n" + kMenu, 5000)) << program.output();
  program.write("3\n");
  EXPECT_EQ(program.wait(), 0);
}

TEST(Redirected, OtherChoicesShowTheMenuAgain) {
  expect_run("0\n4\n-1\n3.5\nabc\n3\n", menus(6));
  expect_run("2.5\n100\n3\n", kMenu + "F=  212\n" + kMenu);  // 2.5 rounds to 2
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

TEST(Redirected, TheEnvironmentDoesNotMatter) {
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
  RunOptions options;
  options.generate = generate_blanks_then_exit;
  options.generator_state = &blanks;
  const ProcessResult r = run_program("", options);
  EXPECT_EQ(r.out, kMenu);
  EXPECT_EQ(r.exit_status, 0);
  // Far below the input's size: nothing of the line is kept. Sanitizers add their own overhead.
  EXPECT_LT(r.max_rss_kib, 48 * 1024);
}

}  // namespace
