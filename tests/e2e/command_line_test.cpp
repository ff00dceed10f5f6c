// SPDX-License-Identifier: MIT
// The command line for scripts as users see it: arguments and filter input,
// results, messages and statuses. With no arguments the program is the menu
// (the other end-to-end tests).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/process.h"

namespace {

const std::string kTry = "Try 'tempconv --help' for more information.\n";

TEST(CommandLine, ResultsMessagesAndStatuses) {
  const struct {
    std::vector<std::string> args;
    std::string input;     // standard input
    std::string out;       // standard output, whole
    std::string err;       // standard error, whole (or its start, for --help and --version)
    int status;
    std::string stdout_path = "";
    std::string stdin_path = "";
  } cases[] = {
      {{"-f", "C", "-t", "F", "37"}, "", "98.6\n", "", 0},
      {{"-t", "F", "-f", "c", "-17.5"}, "", "0.5\n", "", 0},  // a value may begin with "-"
      {{"--from=fahrenheit", "--to", "CELSIUS", "100", "32.1"}, "", "37.7777777777778\n0.0555555555555556\n", "", 0},
      {{"-fF", "-tC", "--digits", "30", "100"}, "", "37.7777777777777777777777777778\n", "", 0},
      {{"-f", "K", "-t", "R", "-d3", "0", "1e9999", "273.15"}, "", "0\n1.8e+9999\n492\n", "", 0},
      {{"-f", "C", "-t", "F", "--", "-40", "abc", "-500", "1e10000", "\033[2J", "100"}, "",
       "-40\n\n\n\n\n212\n",
       "tempconv: \"abc\": not a number\ntempconv: \"-500\": below absolute zero\n"
       "tempconv: \"1e10000\": exponent out of range\ntempconv: \"\\x1b[2J\": not a number\n",
       1},
      // The filter: a line per value, blanks and a CR allowed, the last line without its end.
      {{"-f", "c", "-t", "f"}, "37\n  -40 \r\n\nabc\n100", "98.6\n-40\n\n\n212\n",
       "tempconv: line 3: \"\": not a number\ntempconv: line 4: \"abc\": not a number\n", 1},
      {{"-f", "c", "-t", "f"}, "", "", "", 0},
      {{"-f", "C", "-t", "F", "37"}, "", "", "tempconv: write error: No space left on device\n", 1, "/dev/full"},
      {{"-f", "C", "-t", "F"}, "", "", "tempconv: read error: Is a directory\n", 1, "", "/"},
      // The command line itself wrong: a message, the hint, nothing on standard output.
      {{"212", "F", "C"}, "", "", "tempconv: no scale to convert from (-f SCALE)\n" + kTry, 2},
      {{"-f", "C", "1"}, "", "", "tempconv: no scale to convert to (-t SCALE)\n" + kTry, 2},
      {{"-f", "X", "-t", "C", "1"}, "", "", "tempconv: unknown scale 'X' (C, F, K or R)\n" + kTry, 2},
      {{"-f", "C", "-t", "F", "-d", "31", "1"}, "", "", "tempconv: invalid number of digits '31' (1 to 30)\n" + kTry, 2},
      {{"-f", "C", "-t", "F", "-d", "0", "1"}, "", "", "tempconv: invalid number of digits '0' (1 to 30)\n" + kTry, 2},
      {{"--bogus"}, "", "", "tempconv: unrecognized option '--bogus'\n" + kTry, 2},
      {{"-x"}, "", "", "tempconv: invalid option -- 'x'\n" + kTry, 2},
      {{"-f"}, "", "", "tempconv: option requires an argument -- 'f'\n" + kTry, 2},
      {{"--help=yes"}, "", "", "tempconv: option '--help' doesn't allow an argument\n" + kTry, 2},
      // --help and --version answer at once, whatever else is given.
      {{"--help"}, "", "Usage: tempconv\n", "", 0},
      {{"-h", "--verbose", "help"}, "", "Usage: tempconv\n", "", 0},
      {{"x", "--version"}, "", "tempconv 1.2.0\nCopyright (C) 2026 the tempconv developers.\n", "", 0},
  };
  for (const auto& c : cases) {
    RunOptions options;
    options.args = c.args;
    options.stdout_path = c.stdout_path;
    options.stdin_path = c.stdin_path;
    const ProcessResult r = run_program(c.input, options);
    std::string what;
    for (const std::string& a : c.args) what += a + " ";
    if (c.args[0] == "--help" || c.args[0] == "-h" || c.args.back() == "--version") {
      EXPECT_EQ(r.out.rfind(c.out, 0), 0u) << what << r.out;
    } else {
      EXPECT_EQ(r.out, c.out) << what;
    }
    EXPECT_EQ(r.err, c.err) << what;
    EXPECT_EQ(r.exit_status, c.status) << what;
  }
}

}  // namespace
