// SPDX-License-Identifier: MIT
// Runs the real tempconv binary with redirected standard input and output:
// to completion (run_program), or driven step by step through two pipes as
// another program would drive it (Coprocess).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct ProcessResult {
  std::string out;
  std::string err;
  int exit_status = -1;          // exit code, or -1 when ended by a signal
  int signal = 0;                // the ending signal, if any
  long max_rss_kib = 0;          // peak resident memory
  std::size_t input_written = 0; // bytes of standard input the program took
};

using InputGenerator = std::size_t (*)(char* buffer, std::size_t size, void* state);

struct RunOptions {
  std::vector<std::string> args;        // command-line arguments
  std::vector<std::string> env;         // extra environment, "NAME=value"
  InputGenerator generate = nullptr;    // standard input's bytes from this, until it returns 0
  void* generator_state = nullptr;
  std::string stdin_path;               // standard input opened from this path instead of a pipe
  std::string stdout_path;              // standard output written to this path instead of a pipe
  bool stdout_closed = false;           // standard output closed when the program starts
  std::size_t stop_reading_after = SIZE_MAX;  // close our end of standard output after this many bytes
  bool stderr_to_stdout = false;        // both on one pipe, in the order written (out holds them)
};

// Runs the program with input as standard input (through a pipe, written
// while the program runs). SIGPIPE is ignored in the program, as in the test.
ProcessResult run_program(const std::string& input, const RunOptions& options = {});
inline ProcessResult run_program(const std::string& input, const std::vector<std::string>& env) {
  RunOptions options;
  options.env = env;
  return run_program(input, options);
}

// The program with standard input and output on pipes of the test's own.
class Coprocess {
 public:
  explicit Coprocess(const std::vector<std::string>& args = {});
  ~Coprocess();  // kills the program (by its pid) if it still runs
  Coprocess(const Coprocess&) = delete;
  Coprocess& operator=(const Coprocess&) = delete;

  void write(const std::string& text);
  // Reads standard output until it holds text (counting from the start), or the time is up.
  bool read_until(const std::string& text, int timeout_ms);
  int wait();  // the exit status, -1 if ended by a signal
  const std::string& output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int to_program_ = -1;
  int from_program_ = -1;
  std::string output_;
};
