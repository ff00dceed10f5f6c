// SPDX-License-Identifier: MIT
// The command line for scripts as users see it: arguments and filter input,
// results, messages and statuses. With no arguments the program is the menu
// (the other end-to-end tests).
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/process.h"
#include "tests/support/program.h"
#include "tests/support/temp_dir.h"

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
      {{"-f", "c", "-t", "f"}, "37\n  -40 \r\n\nabc\n100", "98.6\n-40\r\n\n\n212\n",
       "tempconv: line 3: \"\": not a number\ntempconv: line 4: \"abc\": not a number\n", 1},
      {{"-f", "c", "-t", "f"}, "", "", "", 0},
      {{"-f", "C", "-t", "F", "37"}, "", "", "tempconv: write error: No space left on device\n", 1, "/dev/full"},
      {{"-f", "C", "-t", "F"}, "", "", "tempconv: read error: Is a directory\n", 1, "", "/"},
      // The command line itself wrong: a message with what was given escaped, the hint, nothing on standard output.
      {{"-f", "C", "1"}, "", "", "tempconv: no scale to convert to (-t SCALE)\n" + kTry, 2},
      {{"-f", "\033[31mRED", "-t", "C", "1"}, "", "", "tempconv: unknown scale \"\\x1b[31mRED\" (C, F, K, R, Re, Ro, De or N)\n" + kTry, 2},
      {{"-f", "C", "-t", "F", "-d", "31", "1"}, "", "", "tempconv: invalid number of digits \"31\" (1 to 30)\n" + kTry, 2},
      {{"-f", "C", "-t", "F", "-d", "3", "-p", "1", "1"}, "", "", "tempconv: -d and -p cannot be given together\n" + kTry, 2},
      {{"-t", "F", "--field=0"}, "", "", "tempconv: invalid field list \"0\" (N, N-M, N-, -M or names, comma-separated)\n" + kTry, 2},
      {{"-t", "F", "--delimiter=ab", "--field=1"}, "", "", "tempconv: the delimiter must be one character (or tab), not \"ab\"\n" + kTry, 2},
      {{"--bogus"}, "", "", "tempconv: unrecognized option \"--bogus\"\n" + kTry, 2},
      {{"-f", "C", "-t", "F", "--de=,", "1"}, "", "", "tempconv: ambiguous option \"--de\"\n" + kTry, 2},  // --delimiter, --decimal-comma
      {{"-x"}, "", "", "tempconv: invalid option \"-x\"\n" + kTry, 2},
      {{"-f"}, "", "", "tempconv: option -f needs an argument\n" + kTry, 2},
      {{"--help=yes"}, "", "", "tempconv: option --help takes no argument\n" + kTry, 2},
      // Scales on values, and in -f and -t; "-" and a digit is a value, never options.
      {{"-t", "C", "212F", "98.6°F", "37 °C", "300K", "0R", "-40abc", "212"}, "", "100\n37\n37\n26.85\n-273.15\n\n\n",
       "tempconv: \"-40abc\": not a number\n"
       "tempconv: \"212\": no scale: give -f SCALE, or write it after the value (212F)\n", 1},
      {{"-f", "°F", "-t", "℃", "212", "212f", "100C"}, "", "100\n100\n\n",
       "tempconv: \"100C\": its scale is not the one -f names\n", 1},
      // The historical scales, by letters (their own too) and names; Delisle runs backwards.
      {{"-t", "De", "100C", "0K", "80 °Ré", "60Ro", "33n", "560De"}, "", "0\n559.725\n0\n0\n0\n\n",
       "tempconv: \"560De\": below absolute zero\n", 1},
      {{"-f", "réaumur", "-t", "rømer", "--difference", "8"}, "", "5.25\n", "", 0},
      {{"-f", "C", "-t", "delisle", "--difference", "10"}, "", "-15\n", "", 0},
      // Fixed places: exactly that many, half to even, never "-0".
      {{"-f", "C", "-t", "F", "-p", "1", "100", "37"}, "", "212.0\n98.6\n", "", 0},
      {{"-f", "C", "-t", "C", "--places=1", "-0.04", "0.25", "0.35", "1e3", "0.96"}, "", "0.0\n0.2\n0.4\n1000.0\n1.0\n", "", 0},
      // Fields: only the chosen ones change, every other byte is kept, a header and CRLF too.
      {{"-f", "F", "-t", "C", "--header", "--delimiter=,", "--field=2"},
       "\xef\xbb\xbf" "time,temp\r\n1,212\r\n2, 32 \r\n3,abc\r\n4,\r\n5\r\n6,212",
       "\xef\xbb\xbf" "time,temp\r\n1,100\r\n2, 0 \r\n3,abc\r\n4,\r\n5\r\n6,100\n",  // a last line's end added
       "tempconv: line 4, field 2: \"abc\": not a number\n", 1},
      {{"-f", "F", "-t", "C", "--field", "1,3-"}, "  32\t50   212  212F\n", "  0\t50   100  100\n", "", 0},
      {{"-t", "C", "--field=-2"}, "212F 300K x\n", "100 26.85 x\n", "", 0},
      {{"-f", "F", "-t", "C"}, "\xef\xbb\xbf" "212\n", "100\n", "", 0},  // a byte-order mark is not part of the value
      // CSV files: quoted fields hold delimiters and line breaks, columns by name, tabs, decimal commas.
      {{"-f", "F", "-t", "C", "--header", "--delimiter=,", "--field=temp_f"},
       "name,\"temp_f\"\n\"Station, 5, North\",212\nBergen,\"50\"\n\"two\nlines\",x\n",
       "name,\"temp_f\"\n\"Station, 5, North\",100\nBergen,\"10\"\n\"two\nlines\",x\n",
       "tempconv: line 4, field 2: \"x\": not a number\n", 1},
      {{"-t", "C", "--header", "--delimiter=,", "--field=temp"}, "a,b\n1,2\n", "",
       "tempconv: the column \"temp\" is not in the header\n" + kTry, 2},
      {{"-f", "F", "-t", "C", "--delimiter=tab", "--field=3"}, "a\t\t212\n", "a\t\t100\n", "", 0},
      {{"-f", "C", "-t", "F", "--decimal-comma", "--delimiter=;", "--field=2"}, "06:00;12,5\n", "06:00;54,5\n", "", 0},
      {{"-t", "F", "--decimal-comma", "--delimiter=,", "--field=2"}, "", "",
       "tempconv: --decimal-comma needs a delimiter other than the comma\n" + kTry, 2},
      // Differences, NUL-ended records, and what to do with bad values.
      {{"-f", "C", "-t", "F", "--difference", "10", "-300", "-500.0000000000000000000001"}, "", "18\n-540\n-900\n", "", 0},
      {{"-f", "F", "-t", "C", "-z"}, std::string("212\0abc", 7), std::string("100\0\0", 5),
       "tempconv: line 2: \"abc\": not a number\n", 1},
      {{"-f", "C", "-t", "F", "--invalid=warn", "1", "abc", "2"}, "", "33.8\n\n35.6\n", "tempconv: \"abc\": not a number\n", 0},
      {{"-f", "C", "-t", "F", "--invalid=ignore", "1", "abc", "2"}, "", "33.8\n\n35.6\n", "", 0},
      {{"-f", "C", "-t", "F", "--invalid=abort", "1", "abc", "2"}, "", "33.8\n", "tempconv: \"abc\": not a number\n", 1},
      {{"-f", "C", "-t", "F", "--invalid=abort", "--delimiter=,", "--field=2"}, "a,1\nb,x,c\nd,2\n", "a,33.8\n",
       "tempconv: line 2, field 2: \"x\": not a number\n", 1},
      // Traps: options for standard input given with values, a file named as a value, a value with a line break.
      {{"--header", "2", "--delimiter", ",", "--field", "2", "-f", "C", "-t", "F"}, "1,2\n", "",
       "tempconv: --header, --field and --delimiter are for standard input, not for values given as arguments "
       "such as \"2\" (a number of header lines is --header=N)\n" + kTry, 2},
      {{"-t", "C", "\xef\xbb\xbf" "5x"}, "", "\n", "tempconv: \"\\xef\\xbb\\xbf5x\": not a number\n", 1},  // unseen: escaped
      {{"--field=2", "-f", "C", "-t", "F", "7"}, "", "",
       "tempconv: --header, --field and --delimiter are for standard input, not for values given as arguments "
       "such as \"7\"\n" + kTry, 2},
      {{"-f", "C", "-t", "F", "/dev/null", "1\n2", "5°F"}, "", "\n\n\n",
       "tempconv: \"/dev/null\": not a number (to convert the file, give it as standard input: < /dev/null)\n"
       "tempconv: \"1\\x0a2\": not a number\ntempconv: \"5°F\": its scale is not the one -f names\n", 1},
      // --help and --version answer at once, whatever else is given.
      {{"--help"}, "", "Usage: tempconv -t SCALE", "", 0},
      {{"-h", "--verbose", "help"}, "", "Usage: tempconv -t SCALE", "", 0},
      {{"x", "--version"}, "", "tempconv 1.5.0\nCopyright (C) 2026 the tempconv developers.\n", "", 0},
  };
  for (const auto& c : cases) {
    RunOptions options;
    options.env = {"LC_ALL=C.UTF-8"};  // messages show valid UTF-8 as it is
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
  // Outside a UTF-8 locale, the C and POSIX locales too, every byte past ASCII is escaped.
  for (const char* locale : {"LC_ALL=C", "LC_ALL=POSIX", "LC_ALL=C.UTF-8"}) {
    RunOptions options;
    options.env = {locale};
    options.args = {"-t", "C", "ab\xc3\xa9"};
    const bool utf8 = std::string(locale).find("UTF-8") != std::string::npos;
    EXPECT_EQ(run_program("", options).err,
              std::string("tempconv: \"ab") + (utf8 ? "\xc3\xa9" : "\\xc3\\xa9") + "\": not a number\n") << locale;
  }
  // A warning that cannot be written makes the run a failure.
  const std::string warned = program_shell_command() + " -f C -t F --invalid=warn abc >/dev/null 2>/dev/full";
  EXPECT_EQ(WEXITSTATUS(std::system(warned.c_str())), 1);
}

// However little memory there is, running out of it ends the program with
// status 1 and the message (the menu with status 1, silently): never an
// abort, from the smallest limit at which it starts up to a few MiB.
TEST(CommandLine, OutOfMemoryIsStatusOneAtEveryLimit) {
  if (!program_memory_is_its_own()) GTEST_SKIP() << "the limits are the wrapper's or the sanitizer's";
  int started = 0;
  for (int kib = 2000; kib <= 6000; kib += 25) {
    for (const char* run : {"%s -f C -t F 37 2>&1", "printf '212\\n32\\n' | %s -f F -t C --field=1 --delimiter=, 2>&1",
                            "printf '1\\n212\\n3\\n' | %s 2>&1 >/dev/null"}) {
      char command[512];
      std::snprintf(command, sizeof command, run, program_shell_command().c_str());
      const std::string limited = "ulimit -v " + std::to_string(kib) + "; " + command;
      FILE* pipe = popen(limited.c_str(), "r");
      ASSERT_NE(pipe, nullptr);
      std::string text;
      char buffer[256];
      for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, got);
      const int status = pclose(pipe);
      if (WIFEXITED(status) && WEXITSTATUS(status) == 127) continue;  // the loader could not start it
      ++started;
      ASSERT_TRUE(WIFEXITED(status)) << kib << " KiB: " << command << ": " << text;
      const int code = WEXITSTATUS(status);
      const bool menu = std::strstr(run, ">/dev/null") != nullptr;  // its standard error alone
      const std::string ending = "tempconv: out of memory\n";
      const bool said = text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
      EXPECT_TRUE((code == 0 && !said) || (code == 1 && (menu ? text.empty() : said)))
          << kib << " KiB: " << command << ": status " << code << ", " << text;
    }
  }
  EXPECT_GT(started, 0);
}

// Each line is answered while the input stays open; results and messages
// keep the order of the values; a line of any length costs little memory.
TEST(CommandLine, StreamsInOrderInBoundedMemory) {
  Coprocess program({"-f", "F", "-t", "C"});
  program.write("212\n");
  EXPECT_TRUE(program.read_until("100\n", 5000));
  program.write("32\n");
  EXPECT_TRUE(program.read_until("100\n0\n", 5000));
  EXPECT_EQ(program.wait(), 0);

  RunOptions both;
  both.args = {"-f", "F", "-t", "C", "212", "abc", "32"};
  both.stderr_to_stdout = true;
  EXPECT_EQ(run_program("", both).out, "100\n\ntempconv: \"abc\": not a number\n0\n");
  {  // The README's example, with both on one file: each message right after its row.
    auto text_of = [](const std::string& path) {
      std::ifstream file(std::string(TEMPCONV_SOURCE_DIR) + "/" + path);
      return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    };
    const std::string readme = text_of("README.md");
    const std::string command = "    $ tempconv -f F -t C -p 1 --header --delimiter=, --field=temp_f < examples/readings.csv\n";
    const std::size_t from = readme.find(command);
    ASSERT_NE(from, std::string::npos);
    std::istringstream shown(readme.substr(from + command.size(), readme.find("\n\n", from) - from - command.size()));
    std::string expected;
    for (std::string row; std::getline(shown, row);) expected += row.substr(4) + "\n";
    RunOptions example = both;
    example.args = {"-f", "F", "-t", "C", "-p", "1", "--header", "--delimiter=,", "--field=temp_f"};
    EXPECT_EQ(run_program(text_of("examples/readings.csv"), example).out, expected);
  }

  {  // Two openings of one file (>>log 2>>log): each message still right after its row.
    TempDir dir("tempconv-log");
    ASSERT_TRUE(dir.made());
    std::string values, expected;
    for (int line = 1; line <= 3000; ++line) {
      const bool bad = line % 1000 == 0;
      values += bad ? "x\n" : "212\n";
      expected += bad ? "\ntempconv: line " + std::to_string(line) + ": \"x\": not a number\n" : "100\n";
    }
    std::ofstream(dir.path() + "/in") << values;
    const std::string command = "cd '" + dir.path() + "' && " + program_shell_command() + " -f F -t C <in >>log 2>>log";
    EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 1);
    std::ifstream log(dir.path() + "/log");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()), expected);
  }

  struct LongLine {
    std::size_t left;
  } line{std::size_t{64} << 20};
  RunOptions long_line;
  long_line.args = {"-f", "F", "-t", "C"};
  long_line.generator_state = &line;
  long_line.generate = [](char* buffer, std::size_t size, void* state) -> std::size_t {
    auto* left = &static_cast<LongLine*>(state)->left;
    if (*left == 0) return 0;
    const std::size_t count = std::min(size, *left);
    std::memset(buffer, '\0', count);  // 64 MiB of NUL bytes, then a line end and a value
    if (count == *left) std::memcpy(buffer + count - 5, "\n212\n", 5);
    *left -= count;
    return count;
  };
  const ProcessResult r = run_program("", long_line);
  EXPECT_EQ(r.out, "\n100\n");
  std::string shown;
  for (int i = 0; i < 40; ++i) shown += "\\x00";  // what a message shows of a value: its first 40 bytes
  EXPECT_EQ(r.err, "tempconv: line 1: \"" + shown + "...\": value too long\n");
  EXPECT_EQ(r.exit_status, 1);
  if (program_memory_is_its_own()) {
    EXPECT_LT(r.max_rss_kib, 8 * 1024);
  }
}

}  // namespace
