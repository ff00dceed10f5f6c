// Runs the real tempconv binary with redirected standard input.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
  std::string out;
  std::string err;
  int exit_status = -1;   // exit code, or -1 when ended by a signal
  int signal = 0;         // the ending signal, if any
  long max_rss_kib = 0;   // peak resident memory
};

// Runs the program with input as standard input (through a pipe, written
// while the program runs) and the given extra environment ("NAME=value").
ProcessResult run_program(const std::string& input, const std::vector<std::string>& env = {});

// Like run_program, but standard input is a pipe fed by generate(), called
// repeatedly with a buffer to fill until it returns 0.
ProcessResult run_program_streaming(std::size_t (*generate)(char* buffer, std::size_t size, void* state),
                                    void* state);
