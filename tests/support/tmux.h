// SPDX-License-Identifier: MIT
// A real terminal emulator for end-to-end tests: a tmux server on a socket of
// the test's own, running the real binary in a window of fixed size. The
// program is wrapped in a shell that records the terminal's modes before and
// after the run and its exit status. The server is killed by its socket when
// the session ends.
#pragma once

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

class TmuxSession {
 public:
  // Fails the calling test (and starts nothing) when its private folder cannot be made.
  // before_program is shell text run just before the program on the same
  // command line, after_program shell text run right after it ends (its
  // status is kept first). As a Controlled job the program runs as a job of
  // an interactive shell, which can stop it (C-z) and take it back ("fg"); as
  // a Background one it starts in the background ("&").
  enum class Job { Plain, Controlled, Background };
  TmuxSession(int columns, int rows, const std::string& before_program = "", Job job = Job::Plain,
              const std::string& after_program = "");
  ~TmuxSession();
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  // tmux key names or literal text ("Enter", "Left", "C-z", "BSpace", "212").
  void keys(const std::vector<std::string>& keys);
  void type(const std::string& text);  // sent literally
  // Pasted as a terminal pastes, in bracketed-paste marks where the program
  // asked for them (line feeds as carriage returns).
  void paste(const std::string& text);
  std::vector<std::string> screen();  // the visible rows, trailing blanks removed
  std::string screen_text();          // the rows joined with line feeds, trailing empty rows removed
  // Waits until the screen shows text (trailing blanks of text are not looked for).
  bool wait_for(const std::string& text, int timeout_ms = 5000);
  // Waits until the visible rows, joined without line ends, contain text (a wrapped line reads whole).
  bool wait_for_joined(const std::string& text, int timeout_ms = 10000);
  // Waits until the row holding the cursor reads text (trailing blanks are not shown by tmux).
  bool wait_for_cursor_row(const std::string& text, int timeout_ms = 5000);
  // Waits until the screen stops changing for a moment.
  void settle(int quiet_ms = 150);
  void resize(int columns, int rows);
  std::pair<int, int> cursor();       // 1-based column and row
  bool wait_for_exit(int timeout_ms = 5000);
  int exit_status();                  // after wait_for_exit
  bool modes_unchanged();             // stty -g before and after the run are equal

 private:
  std::string tmux(const std::string& arguments);
  std::string socket_;
  TempDir dir_{"tempconv-tmux"};  // the run's modes and exit status; removed with the session
  bool started_ = false;
};
