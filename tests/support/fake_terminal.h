// SPDX-License-Identifier: MIT
// An in-process terminal for unit tests of the terminal layer: standard input
// and output become the slave side of a pseudo-terminal in raw mode, and the
// terminal state is set up as for an xterm-like entry. It answers report
// requests with the bytes a test prepared (a terminal sends them once it has
// read the request: keys typed around the reply go with it); output is read
// back from the master.
#pragma once

#include <string>
#include <string_view>

#include <deque>
#include <memory>

#include "runtime/term/term_internal.h"
#include "tests/support/fixtures.h"

class FakeTerminal {
 public:
  FakeTerminal(int columns, int rows);
  ~FakeTerminal();
  FakeTerminal(const FakeTerminal&) = delete;
  FakeTerminal& operator=(const FakeTerminal&) = delete;

  void type(std::string_view bytes);        // bytes the terminal sends to the program
  // The bytes sent when the program next asks for a report (with standard
  // output redirected, when it next waits for one).
  void answer(std::string bytes);
  std::string output();                     // bytes the program wrote since the last call
  void resize(int columns, int rows);       // changes the size and sets the resize flag
  void redirect_stdout_to_file();           // the size ioctl then fails
  int master() const { return master_; }

 private:
  static int reader();      // the key reader: answers what was asked, then reads the tty
  void answer_requests();
  std::string written_;     // output read from the master, not yet handed to output()
  std::size_t scanned_ = 0;  // requests before here are answered
  std::deque<std::string> answers_;
  bool redirected_ = false;
  int master_ = -1;
  int slave_ = -1;
  int tty_ = -1;
  int saved_stdin_ = -1;
  int saved_stdout_ = -1;
  std::unique_ptr<InventedTerminal> invented_;
};

// Drains the key queue: every key the decoder delivers within 200 ms (a lone
// Escape is decided; the start of a longer sequence waits for its rest).
std::string queued_keys();
