// SPDX-License-Identifier: MIT
// Cursor and size requests and their answers. The tracker (report_tracker.cpp)
// keeps what was asked and answered and decides, without I/O, whether an
// answer holds and which replies are due; reports.cpp asks, waits and reads.
#pragma once

#include <cstdint>

#include "runtime/term/keyboard/decoder.h"

// The cursor's place, the window's size, and whether the keyboard has the
// kitty protocol (asked with the device attributes behind it, which every
// terminal answers: that answer ends the question).
enum class Report { Cursor, Size, Keyboard };

// When an answer was given: it holds while all three stay the same.
struct Moment {
  uint64_t output;    // writes so far
  unsigned resizes;   // window changes so far
  unsigned stops;     // continues after a stop so far
  bool operator==(const Moment&) const = default;
};

class ReportTracker {
 public:
  // How long a query waits for its reply; how long after its request a reply
  // still on its way is awaited before the terminal is handed back (a slow
  // link answers in seconds).
  static constexpr int kReplyWaitMs = 1000;
  static constexpr int kLateReplyMs = 3000;

  // The answer given at this very moment, if there is one.
  bool answer_at(Report report, const Moment& now, int32_t* row, int32_t* column) const;
  // A request that went out before a stop is forgotten (the suspend key
  // flushes input); true when one was.
  bool forget_if_stopped(Report report, unsigned stops);
  bool outstanding(Report report) const { return of(report).outstanding; }
  bool ever_asked(Report report) const { return of(report).ever_asked; }
  // A wait for the outstanding request ran out: queries do not wait for it again.
  bool waited_out(Report report) const { return of(report).waited_out; }
  void wait_ran_out(Report report) { of(report).waited_out = true; }
  void asked(Report report, const Moment& now, int64_t now_ms);
  int64_t deadline(Report report) const { return of(report).deadline_ms; }
  int64_t asked_ms(Report report) const { return of(report).asked_ms; }
  unsigned asked_stops(Report report) const { return of(report).asked_at.stops; }
  // A reply: taken if a request of its kind is due (not stopped since); true then.
  bool receive(Report report, int32_t row, int32_t column, unsigned stops);
  bool answered(Report report) const { return of(report).answered; }
  // Whether a request went out since the window last changed and the program was last continued.
  bool asked_since(Report report, unsigned resizes, unsigned stops) const {
    const Awaited& w = of(report);
    return w.ever_asked && w.asked_at.resizes == resizes && w.asked_at.stops == stops;
  }
  // The answer, unless the window changed while it was on its way (it tells of the old one).
  bool answer(Report report, unsigned resizes, int32_t* row, int32_t* column) const;

  // The replies on their way: how many, until when they are awaited before
  // the terminal is handed back, and the end of the latest query's wait.
  struct Due {
    int count;
    int64_t until_ms;
    int64_t wait_end_ms;
  };
  Due due(unsigned stops) const;

 private:
  struct Awaited {
    bool ever_asked;      // a request went out at some time
    bool outstanding;     // a request went out and its reply has not come
    bool waited_out;      // ... and a wait for it ran out
    int64_t asked_ms;     // when it went out
    int64_t deadline_ms;  // the end of the wait for it
    Moment asked_at;      // when it went out: its answer holds while nothing has changed since
    bool answered;        // the reply to the last request came
    int32_t row, column;  // its values (for the size: rows and columns)
  };
  Awaited& of(Report report) { return report == Report::Cursor ? cursor_ : report == Report::Size ? size_ : keyboard_; }
  const Awaited& of(Report report) const {
    return report == Report::Cursor ? cursor_ : report == Report::Size ? size_ : keyboard_;
  }
  bool due(const Awaited& w, unsigned stops) const { return w.outstanding && w.asked_at.stops == stops; }

  Awaited cursor_{};
  Awaited size_{};
  Awaited keyboard_{};
};
extern ReportTracker term_reports;

// What was asked and answered as at program start: nothing.
void reports_reset();
// Asks the terminal for a report; runs with the terminal mutex held. Not
// while keys are waiting: the reply would come behind them, and reaching it
// would take keys that may belong to the shell.
bool term_query(Report report, int32_t* row, int32_t* column);
// Asks the terminal its size (for a size refresh where the kernel cannot tell).
bool ask_terminal_size(int32_t* columns, int32_t* rows);
// Asks where the cursor is, for the tracked screen.
void term_query_cursor();
// Asks once whether the keyboard has the kitty protocol, never waiting for
// the answer (not while keys are waiting, as every question).
void term_ask_keyboard_protocol();
// Its answer so far: 1 the keyboard has the protocol, -1 it has not, 0 not
// known yet. Async-signal-safe (a resume turns the line's modes on again).
int term_keyboard_protocol_known();
// A reply the decoder found, handed here by the keyboard (its reply
// listener, wired at set-up); taken if a request for it is outstanding.
void reports_receive(const KeyEvent& reply);
// Before the terminal is handed back (an exit, a stop, a fatal signal): reads
// and drops the bytes up to the end of every reply still on its way, until
// kLateReplyMs after its request, so that none lands in the shell's input.
// For the shell (the program ends), the keys read meanwhile, after those
// given back before, go back to the terminal's input (TIOCSTI where the
// kernel allows it), and the keys still waiting there behind them, so that
// the shell reads them all in the order they were typed; on a stop they are
// dropped. Only poll(), read(), ioctl() and clock_gettime(): the signal
// handlers call it.
void reports_await_due_replies(bool for_the_shell);
// At the end of the program: keys read but never taken, kept to be given back
// with those by reports_await_due_replies(true).
void reports_keep_untaken_keys_for_the_shell();
