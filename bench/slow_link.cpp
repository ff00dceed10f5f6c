// SPDX-License-Identifier: MIT
// Editing over a slow link: the converter on a pseudo-terminal whose terminal
// answers cursor and size requests only after a set delay, as over ssh to a
// distant machine.
//
// At the temperature prompt it pastes a run of digits at once and reports the
// time until all of them are echoed and the requests made meanwhile; then it
// clears the line and types keys one at a time at a set interval and reports
// the median and largest time from a key to its echo.
//
//   build/bench/slow_link [delay ms] [paste bytes] [keys] [interval ms] [program]
//   (defaults: 50 600 50 100 build/tempconv; a delay of 0 measures a local terminal)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pty.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The characters the program showed from offset on: its output without control sequences.
std::string shown_since(const std::string& output, std::size_t offset) {
  std::string shown;
  for (std::size_t i = offset; i < output.size(); ++i) {
    if (output[i] == '\033' && i + 1 < output.size() && output[i + 1] == '[') {
      i += 2;
      while (i < output.size() && (output[i] < 0x40 || output[i] > 0x7E)) ++i;  // to the final byte
    } else if (static_cast<unsigned char>(output[i]) >= 0x20) {
      shown.push_back(output[i]);
    }
  }
  return shown;
}

// Reads output until text is shown after offset, or the time is up.
bool wait_until_shown(PtySession& session, std::size_t offset, const std::string& text, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (shown_since(session.output(), offset).find(text) == std::string::npos) {
    if (Clock::now() > deadline) return false;
    session.read_more(10);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int delay_ms = argc > 1 ? std::atoi(argv[1]) : 50;
  const int paste_bytes = argc > 2 ? std::atoi(argv[2]) : 600;
  const int keys = argc > 3 ? std::atoi(argv[3]) : 50;
  const int interval_ms = argc > 4 ? std::atoi(argv[4]) : 100;
  PtyOptions options;
  options.env = {"TERM=xterm"};
  options.reply_delay_ms = delay_ms;
  options.answer = [](std::string_view request) {
    return request == "\033[6n" ? std::string("\033[5;1R") : std::string("\033[8;24;80t");
  };
  if (argc > 5) options.program = argv[5];
  PtySession session(options);
  if (!session.wait_for("? ", 10000)) {
    std::fprintf(stderr, "slow_link: the program did not show its prompt\n");
    return 1;
  }
  session.type("1\r");
  if (!session.wait_for("Fahrenheit: ", 10000)) return 1;
  session.settle(delay_ms + 100);

  std::string pasted;
  for (int i = 0; i < paste_bytes; ++i) pasted.push_back(static_cast<char>('0' + i % 10));
  const int requests_before_paste = session.requests_seen();
  std::size_t offset = session.output().size();
  const auto paste_start = Clock::now();
  session.type(pasted);
  if (!wait_until_shown(session, offset, pasted, 600000)) return 1;
  const double paste_ms = ms_since(paste_start);
  const int paste_requests = session.requests_seen() - requests_before_paste;

  session.type("\033");  // clear the line
  session.settle(delay_ms + 100);
  const int requests_before_keys = session.requests_seen();
  std::vector<double> latencies;
  for (int i = 0; i < keys; ++i) {
    const auto typed = Clock::now();
    const std::string key(1, static_cast<char>('0' + i % 10));
    offset = session.output().size();
    session.type(key);
    if (!wait_until_shown(session, offset, key, 10000)) return 1;
    latencies.push_back(ms_since(typed));
    session.pump(static_cast<int>(interval_ms - ms_since(typed)));  // the next key comes on time
  }
  const int key_requests = session.requests_seen() - requests_before_keys;
  session.type("\r3\r");
  session.wait_for_exit(10000);

  std::sort(latencies.begin(), latencies.end());
  std::printf("reply delay: %d ms\n", delay_ms);
  std::printf("paste of %d bytes: all echoed after %.1f ms, %d requests\n", paste_bytes, paste_ms, paste_requests);
  std::printf("%d keys every %d ms: echo median %.2f ms, max %.2f ms, %d requests\n", keys, interval_ms,
              latencies[latencies.size() / 2], latencies.back(), key_requests);
  return 0;
}
