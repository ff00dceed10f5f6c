// SPDX-License-Identifier: MIT
// Pasting and window size at scale: the converter on a pseudo-terminal.
//
// At the temperature prompt (80 x 24) it pastes blanks, then "212", then
// Enter, all at once, and reports the time until "C=  100" is shown and the
// time per byte, for 1 KiB, 64 KiB and 1 MiB, with the program's peak memory.
// Then it starts the program again, resizes its window to 65535 x 65535 and
// by one more column, and reports the peak memory beside that of the same
// steps at 80 x 24.
//
//   build/bench/paste [largest paste in KiB] [program] [window: 1 or 0]
//   (defaults: 1024, build/tempconv, 1)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/pty.h"

namespace {

using Clock = std::chrono::steady_clock;

PtyOptions options_for(const std::string& program) {
  PtyOptions options;
  options.env = {"TERM=xterm"};
  options.answer = [](std::string_view request) {
    return request == "\033[6n" ? std::string("\033[5;1R") : std::string("\033[8;24;80t");
  };
  options.program = program;
  return options;
}

void paste(std::size_t bytes, const std::string& program) {
  PtySession session(options_for(program));
  if (!session.wait_for("? ", 10000)) return;
  session.type("1\r");
  if (!session.wait_for("Fahrenheit: ", 10000)) return;
  session.settle(200);
  const std::string text = std::string(bytes - 4, ' ') + "212\r";
  const std::size_t offset = session.output().size();
  const auto start = Clock::now();
  session.type(text);
  const bool done = session.wait_for_from(offset, "C=  100", 600000);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  const long rss = process_status(session.program_pid(), "VmHWM");
  if (done) {
    std::printf("%8zu bytes: %9.1f ms, %7.3f us per byte, peak RSS %ld KiB\n", bytes, ms, ms * 1000 / bytes, rss);
  } else {
    std::printf("%8zu bytes: not converted within 10 minutes\n", bytes);
  }
  session.type("3\r");
  session.wait_for_exit(10000);
}

long window_peak(int columns, int rows, const std::string& program) {
  PtySession session(options_for(program));
  if (!session.wait_for("? ", 10000)) return -1;
  session.settle(200);
  session.resize(columns, rows);
  session.settle(300);
  session.resize(columns - 1, rows);
  session.settle(300);
  session.type("0\r");
  session.wait_for_count("? ", 2, 10000);
  session.settle(200);
  const long rss = process_status(session.program_pid(), "VmHWM");
  session.type("3\r");
  session.wait_for_exit(10000);
  return rss;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t largest_kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
  const std::string program = argc > 2 ? argv[2] : "";
  const bool window = argc > 3 ? std::atoi(argv[3]) != 0 : true;
  std::printf("paste of blanks, then 212 and Enter, at the temperature prompt (80 x 24):\n");
  for (std::size_t kib : {std::size_t{1}, std::size_t{64}, std::size_t{1024}}) {
    if (kib <= largest_kib) paste(kib * 1024, program);
  }
  if (window) {
    std::printf("peak RSS after a resize to 65535 x 65535 and by a column: %ld KiB (80 x 24: %ld KiB)\n",
                window_peak(65535, 65535, program), window_peak(81, 24, program));
  }
  return 0;
}
