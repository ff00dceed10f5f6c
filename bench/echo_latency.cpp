// Keystroke-to-echo latency of the line editor on a pseudo-terminal that
// answers cursor position requests at once.
//
// Starts tempconv on a pty (TERM=xterm), waits for the menu prompt, then types
// keys one at a time: for each, the time from writing the key to reading its
// echo. Between keys it waits until the program is idle again. Prints the
// median, 90th and 99th percentile and the maximum.
//
//   build/bench/echo_latency [path/to/tempconv] [keys]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Terminal {
  int master = -1;
  std::string unread;  // output not yet looked at

  // Reads what is there within timeout_ms, answering every cursor request at once.
  bool read_some(int timeout_ms) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    char buffer[4096];
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) return false;
    unread.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t at; (at = unread.find("\033[6n")) != std::string::npos;) {
      static const char kReply[] = "\033[5;3R";
      (void)!write(master, kReply, sizeof kReply - 1);
      unread.erase(at, 4);
    }
    return true;
  }

  bool wait_for(const std::string& text, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (unread.find(text) == std::string::npos) {
      if (Clock::now() > deadline) return false;
      read_some(5);
    }
    unread.erase(0, unread.find(text) + text.size());
    return true;
  }

  void wait_until_idle(int quiet_ms) {
    while (read_some(quiet_ms)) {
    }
    unread.clear();
  }
};

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const std::size_t index = std::min(values.size() - 1, static_cast<std::size_t>(p * (values.size() - 1) + 0.5));
  return values[index];
}

}  // namespace

int main(int argc, char** argv) {
  const char* program = argc > 1 ? argv[1] : "build/tempconv";
  const int keys = argc > 2 ? std::atoi(argv[2]) : 200;
  Terminal terminal;
  winsize size{};
  size.ws_col = 80;
  size.ws_row = 24;
  const pid_t pid = forkpty(&terminal.master, nullptr, nullptr, &size);
  if (pid == 0) {
    setenv("TERM", "xterm", 1);
    execl(program, program, static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid < 0 || !terminal.wait_for("? ", 5000)) {
    std::fprintf(stderr, "echo_latency: %s did not show its prompt\n", program);
    return 1;
  }
  terminal.wait_until_idle(20);

  std::vector<double> latencies_ms;
  for (int i = 0; i < keys; ++i) {
    const char key = static_cast<char>('0' + i % 10);
    const auto typed = Clock::now();
    (void)!write(terminal.master, &key, 1);
    if (!terminal.wait_for(std::string(1, key), 2000)) {
      std::fprintf(stderr, "echo_latency: no echo for key %d\n", i);
      return 1;
    }
    latencies_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - typed).count());
    terminal.wait_until_idle(3);
  }
  (void)!write(terminal.master, "\033", 1);  // clear the line, then choose 3
  terminal.wait_until_idle(20);
  (void)!write(terminal.master, "3\r", 2);
  terminal.wait_until_idle(50);
  int status = 0;
  waitpid(pid, &status, 0);

  std::printf("keys: %d\n", keys);
  std::printf("median: %.3f ms\n", percentile(latencies_ms, 0.5));
  std::printf("p90:    %.3f ms\n", percentile(latencies_ms, 0.9));
  std::printf("p99:    %.3f ms\n", percentile(latencies_ms, 0.99));
  std::printf("max:    %.3f ms\n", *std::max_element(latencies_ms.begin(), latencies_ms.end()));
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
