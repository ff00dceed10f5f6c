// SPDX-License-Identifier: MIT
// Runs the real tempconv binary on a pseudo-terminal the test opens, the way
// an interactive shell runs a job: in its own session with the pty as
// controlling terminal, in its own process group in the foreground, so that
// Ctrl+C, Ctrl+Z and continuing behave as they do for users.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/vt_screen.h"

struct PtyOptions {
  std::vector<std::string> env;        // "NAME=value"; TERM is absent unless given here
  int columns = 80;
  int rows = 24;
  bool stdout_to_pipe = false;         // standard output redirected away from the terminal
  bool stdin_from_pipe = false;        // standard input redirected away from the terminal
  std::string stdin_text;              // what the stdin pipe holds
  bool background = false;             // started as a background job
  std::vector<int> ignored_signals;    // ignored when the program starts
  // Called with each cursor or size report request the program writes
  // ("\e[6n" or "\e[18t"); returns the bytes to answer with (empty: silence).
  std::function<std::string(std::string_view request)> answer;
  // The output is shown on an emulated screen, which answers the requests
  // (where answer is not given) with where its cursor is and its size.
  bool emulate = false;
  std::string screen_before;           // what the emulated screen shows before the program starts
  // The device attributes are answered whenever asked, as every terminal
  // does; the kitty keyboard protocol's question only by one that has it.
  bool kitty_keyboard = false;
  int reply_delay_ms = 0;              // answers arrive this long after the request, as over a slow link
  int reply_split_ms = 0;              // ... their first byte this long before the rest
  std::string program;                 // the binary to run instead of the one under test
  // The session stays this long after the program ends, and then tells what
  // the terminal still holds for reading (input_left): what the shell would get.
  int linger_ms = 0;
};

class PtySession {
 public:
  explicit PtySession(PtyOptions options);
  ~PtySession();  // kills the job (by its pid) if it still runs
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  bool started() const { return program_pid_ > 0; }
  pid_t program_pid() const { return program_pid_; }

  void type(std::string_view bytes);
  // Reads output until it contains text (counting from the start of the run).
  bool wait_for(std::string_view text, int timeout_ms = 5000);
  // Reads output until count occurrences of text have been seen.
  bool wait_for_count(std::string_view text, int count, int timeout_ms = 5000);
  // Reads output until text appears at or after offset from the start of the run.
  bool wait_for_from(std::size_t offset, std::string_view text, int timeout_ms = 5000);
  // Reads output for a while, answering requests.
  void pump(int milliseconds);
  // Reads what arrives within timeout_ms, answering requests; false if nothing did.
  bool read_more(int timeout_ms) { return read_some(timeout_ms); }
  // Reads output until none has come for quiet_ms (the program is waiting).
  void settle(int quiet_ms = 300);
  bool wait_for_exit(int timeout_ms = 5000);
  bool wait_until_stopped(bool stopped, int timeout_ms = 5000);
  void resize(int columns, int rows);  // the window, and the emulated screen (its rows kept as xterm keeps them)
  void hang_up();                      // the terminal goes away: the master side is closed
  // While held, replies wait: a terminal sends a reply between keys, never
  // inside the bytes of one, whatever the link between does to them.
  void hold_replies(bool held) { replies_held_ = held; }

  const std::string& output() const { return output_; }  // everything written to the terminal
  std::string stdout_pipe_text();                         // with stdout_to_pipe
  std::string stderr_text();
  std::string input_left();                               // with linger_ms, after wait_for_exit
  termios modes() const;                                  // the terminal's modes now
  const termios& initial_modes() const { return initial_modes_; }  // before the program started
  int requests_seen() const { return requests_seen_; }  // cursor and size requests
  // What the program has turned on so far: the kitty protocol's flags pushed
  // (less those popped), and bracketed paste.
  int kitty_flags_pushed() const;
  bool bracketed_paste_on() const;
  const VtScreen& screen() const { return *screen_; }     // with emulate
  int master() const { return master_; }

  int exit_status = -1;  // exit code when the job exited
  int exit_signal = 0;   // the signal that ended it

 private:
  bool read_some(int timeout_ms);
  void answer_requests();
  void show_output(std::size_t up_to);
  bool send_due_replies();

  PtyOptions options_;
  termios initial_modes_{};
  int master_ = -1;
  int slave_ = -1;
  int stderr_pipe_ = -1;
  int stdout_pipe_ = -1;
  int left_pipe_ = -1;     // with linger_ms: what the terminal held after the program
  pid_t leader_pid_ = -1;
  pid_t program_pid_ = -1;
  std::string output_;
  std::size_t scanned_ = 0;
  std::unique_ptr<VtScreen> screen_;
  std::size_t shown_ = 0;  // output the screen has been fed
  int requests_seen_ = 0;
  bool exited_ = false;
  void send(std::string_view bytes);
  struct Reply {
    std::chrono::steady_clock::time_point due;
    std::string bytes;
    bool first_piece = false;  // of a reply split in two
  };
  std::deque<Reply> replies_;  // answers not sent yet, and keys typed behind them
  bool replies_held_ = false;
  bool reply_split_open_ = false;  // the first piece of a reply went out, its rest not yet
};

// Reads what has arrived on fd (waiting up to timeout_ms for something) and
// appends it; false when nothing came. The one read loop of the pty helpers.
bool read_arrived(int fd, std::string& into, int timeout_ms);
// Everything that arrives until fd stays quiet for quiet_ms.
std::string read_all_arrived(int fd, int quiet_ms);

// The expansion of a termcap string capability of the given terminal entry,
// as the program writes it ("" when the entry lacks it).
std::string terminfo_string(const std::string& term, const char* capability);

// A number from /proc/<pid>/status ("VmHWM", "voluntary_ctxt_switches"); -1 if absent.
long process_status(pid_t pid, std::string_view field);

// A termios comparison that covers what matters to the user of the terminal.
bool same_modes(const termios& a, const termios& b);
