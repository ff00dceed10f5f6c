// SPDX-License-Identifier: MIT
// Pasting and window size at scale: the converter on a pseudo-terminal.
//
// At the temperature prompt (80 x 24) it pastes blanks, then "212", then
// Enter, all at once, as a terminal without bracketed paste sends it and
// within its marks, and reports the time until "C=  100" is shown and the
// time per byte, for 1 KiB, 64 KiB and 1 MiB, with the program's peak memory.
// Then it starts the program again, resizes its window to 65535 x 65535 and
// by one more column, and reports the peak memory beside that of the same
// steps at 80 x 24.
//
// Then edits in long lines, on an emulated 80 x 24 screen: a line of digits
// of 64 KiB, 1 MiB and 16 MiB is pasted, the cursor put at its start or in
// its middle, and keys typed one at a time (a letter, then Backspace, in
// turn); it reports the time until each key's drawing ended and the bytes
// written per key, whether the screen then shows the line's rows around the
// cursor, and the peak memory. Then Ctrl+Y of a 1 MiB kill a hundred times,
// and Home, "ab" and End in a line of 1,888 digits (taller than the window).
//
//   build/bench/paste [largest paste in KiB] [program] [window: 1 or 0] [largest edited line in KiB]
//   (defaults: 1024, build/tempconv, 1, 16384)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
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

void paste(std::size_t bytes, const std::string& program, bool bracketed) {
  PtySession session(options_for(program));
  if (!session.wait_for("? ", 10000)) return;
  session.type("1\r");
  if (!session.wait_for("Fahrenheit: ", 10000)) return;
  session.settle(200);
  std::string text = std::string(bytes - 4, ' ') + "212\r";
  if (bracketed) text = "\033[200~" + text + "\033[201~";
  const std::size_t offset = session.output().size();
  const auto start = Clock::now();
  session.type(text);
  const bool done = session.wait_for_from(offset, "C=  100", 600000);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  const long rss = process_status(session.program_pid(), "VmHWM");
  if (done) {
    std::printf("%8zu bytes%s: %9.1f ms, %7.3f us per byte, peak RSS %ld KiB\n", bytes, bracketed ? ", bracketed" : "",
                ms, ms * 1000 / bytes, rss);
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

// --- Edits in long lines ----------------------------------------------------------

const std::string kPrompt = "Input temperature in Fahrenheit: ";

std::string digits(std::size_t bytes) {
  std::string text(bytes, '0');
  for (std::size_t i = 0; i < bytes; ++i) text[i] = static_cast<char>('0' + i % 10);
  return text;
}

// The processor time the program has used, in clock ticks.
long cpu_ticks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long user = 0, system = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) user = std::atol(field.c_str());
    if (i == 15) system = std::atol(field.c_str());
  }
  return user + system;
}

// Reads until the program is idle: no output and no processor time used
// for half a second (a long paste is read and laid out before anything is
// drawn). Returns the time from start to the last output that came.
double busy_ms(PtySession& session, Clock::time_point start) {
  auto last = start;
  long ticks = cpu_ticks(session.program_pid());
  for (int quiet = 0; quiet < 5;) {
    const bool output = session.read_more(100);
    if (output) last = Clock::now();
    const long now = cpu_ticks(session.program_pid());
    quiet = output || now != ticks ? 0 : quiet + 1;
    ticks = now;
  }
  return std::chrono::duration<double, std::milli>(last - start).count();
}

// Whether the emulated screen shows the rows of the prompt and line (laid
// out at its width) around the cursor, the cursor standing at index position.
bool screen_shows(const PtySession& session, const std::string& line, std::size_t position) {
  const VtScreen& screen = session.screen();
  const std::string text = kPrompt + line;
  const int64_t width = screen.columns();
  const int64_t cursor = static_cast<int64_t>(kPrompt.size() + position);
  if (screen.column() != cursor % width + 1) return false;
  const int64_t first_row = cursor / width - (screen.row() - 1);  // the layout row on the top row
  for (int row = 1; row <= screen.rows(); ++row) {
    const int64_t layout_row = first_row + row - 1;
    if (layout_row < 0) continue;  // above the prompt: what was there before
    const auto from = static_cast<std::size_t>(std::min<int64_t>(layout_row * width, text.size()));
    std::string expected = text.substr(from, static_cast<std::size_t>(width));
    while (!expected.empty() && expected.back() == ' ') expected.pop_back();
    if (screen.row_text(row) != expected) return false;
  }
  return true;
}

PtySession* start_at_temperature_prompt(const std::string& program) {
  PtyOptions options;
  options.env = {"TERM=xterm"};
  options.emulate = true;
  options.program = program;
  auto* session = new PtySession(options);
  if (!session->wait_for("? ", 10000)) return session;
  session->type("1\r");
  session->wait_for(kPrompt, 10000);
  session->settle(200);
  return session;
}

// Alt+digits then Ctrl+B: moves left by count, in steps of readline's kind.
std::string move_left_by(std::size_t count) {
  std::string keys;
  while (count > 0) {
    const std::size_t step = std::min<std::size_t>(count, 100000);
    keys += "\033" + std::to_string(step) + "\002";  // ESC and the first digit: Alt+digit
    count -= step;
  }
  return keys;
}

void edits(std::size_t bytes, bool middle, int keys, const std::string& program) {
  std::unique_ptr<PtySession> session(start_at_temperature_prompt(program));
  const std::string line = digits(bytes);
  session->type(line);
  busy_ms(*session, Clock::now());
  const std::size_t position = middle ? bytes / 2 : 0;
  session->type(middle ? move_left_by(bytes - position) : "\001");
  busy_ms(*session, Clock::now());
  double total = 0, most = 0;
  std::size_t written = 0;
  for (int k = 0; k < keys; ++k) {
    const std::size_t before = session->output().size();
    const auto start = Clock::now();
    session->type(k % 2 == 0 ? "a" : "\177");
    const double ms = busy_ms(*session, start);
    total += ms;
    most = std::max(most, ms);
    written += session->output().size() - before;
  }
  const std::string now = keys % 2 == 0 ? line : line.substr(0, position) + "a" + line.substr(position);
  std::printf("%8zu bytes, %-6s: %8.2f ms per key (most %8.2f), %9zu bytes written per key, screen %s, peak RSS %ld KiB\n",
              bytes, middle ? "middle" : "start", total / keys, most, written / static_cast<std::size_t>(keys),
              screen_shows(*session, now, position + keys % 2) ? "right" : "WRONG",
              process_status(session->program_pid(), "VmHWM"));
}

void yanks(std::size_t bytes, int times, const std::string& program) {
  std::unique_ptr<PtySession> session(start_at_temperature_prompt(program));
  session->type(digits(bytes));
  busy_ms(*session, Clock::now());
  session->type("\025");  // Ctrl+U: the line into the kill ring
  busy_ms(*session, Clock::now());
  double total = 0;
  const std::size_t before = session->output().size();
  for (int k = 0; k < times; ++k) {
    const auto start = Clock::now();
    session->type("\031");
    total += busy_ms(*session, start);
  }
  std::printf("Ctrl+Y of a %zu-byte kill %d times: %.0f ms, %zu bytes written, peak RSS %ld KiB\n", bytes, times,
              total, session->output().size() - before, process_status(session->program_pid(), "VmHWM"));
}

void tall_line(std::size_t bytes, const std::string& program) {
  std::unique_ptr<PtySession> session(start_at_temperature_prompt(program));
  const std::string line = digits(bytes);
  session->type(line);
  busy_ms(*session, Clock::now());
  const struct {
    const char* keys;
    const char* name;
    std::string line;
    std::size_t position;
  } steps[] = {{"\001", "Home", line, 0}, {"ab", "ab", "ab" + line, 2}, {"\005", "End", "ab" + line, bytes + 2}};
  std::printf("a line of %zu digits at 80 x 24:", bytes);
  for (const auto& step : steps) {
    session->type(step.keys);
    busy_ms(*session, Clock::now());
    std::printf(" %s: screen %s;", step.name, screen_shows(*session, step.line, step.position) ? "right" : "WRONG");
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t largest_kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
  const std::string program = argc > 2 ? argv[2] : "";
  const bool window = argc > 3 ? std::atoi(argv[3]) != 0 : true;
  const std::size_t largest_line_kib = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 16384;
  std::printf("paste of blanks, then 212 and Enter, at the temperature prompt (80 x 24):\n");
  for (std::size_t kib : {std::size_t{1}, std::size_t{64}, std::size_t{1024}}) {
    for (const bool bracketed : {false, true}) {
      if (kib <= largest_kib) paste(kib * 1024, program, bracketed);
    }
  }
  if (window) {
    std::printf("peak RSS after a resize to 65535 x 65535 and by a column: %ld KiB (80 x 24: %ld KiB)\n",
                window_peak(65535, 65535, program), window_peak(81, 24, program));
  }
  std::printf("edits in long lines (80 x 24, a letter and Backspace in turn):\n");
  for (std::size_t kib : {std::size_t{64}, std::size_t{1024}, std::size_t{16384}}) {
    if (kib > largest_line_kib) continue;
    for (bool middle : {false, true}) edits(kib * 1024, middle, kib >= 16384 ? 4 : 20, program);
  }
  if (largest_line_kib >= 1024) yanks(1024 * 1024, 100, program);
  tall_line(1888, program);
  return 0;
}
