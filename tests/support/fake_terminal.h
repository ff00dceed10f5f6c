// SPDX-License-Identifier: MIT
// An in-process terminal for unit tests of the terminal layer: standard input
// and output become the slave side of a pseudo-terminal in raw mode, and the
// terminal state is set up as for an xterm-like entry. Replies "typed" before
// a call are read by its report queries; output is read back from the master.
#pragma once

#include <string>
#include <string_view>

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
  std::string output();                     // bytes the program wrote since the last call
  void resize(int columns, int rows);       // changes the size and sets the resize flag
  void redirect_stdout_to_file();           // the size ioctl then fails
  int master() const { return master_; }

 private:
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
