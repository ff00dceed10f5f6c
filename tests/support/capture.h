// SPDX-License-Identifier: MIT
// Helpers for unit tests: captured standard output and in-memory input sources.
#pragma once

#include <cstdio>
#include <string>

#include "runtime/input/input_internal.h"
#include "runtime/print/print.h"
#include "tests/support/fixtures.h"

// Sends standard output to a temporary file while alive; text() returns what was written.
class CapturedStdout {
 public:
  CapturedStdout();
  ~CapturedStdout();
  CapturedStdout(const CapturedStdout&) = delete;
  CapturedStdout& operator=(const CapturedStdout&) = delete;
  std::string text();

 private:
  std::FILE* file_;
  int saved_fd_;
};

// Points the program's INPUT context at a string source (the redirected path)
// while alive.
struct RedirectedInput {
  MemorySource source;

  explicit RedirectedInput(std::string bytes);
  ~RedirectedInput();
  InputContext* context() { return input_context(); }
  int next() { return next_input_char(context()); }
};

// Gives the program's INPUT context an edited line (the terminal path) while alive.
struct EditedLine {
  explicit EditedLine(std::string line, bool ended_input = false);
  ~EditedLine();
  InputContext* context() { return input_context(); }
};

// Puts the console record and its operation table back to their state at program start.
void reset_console();
