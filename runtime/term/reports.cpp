// SPDX-License-Identifier: MIT
// Report queries: the cursor position and window size requests and their
// replies.
//
// A reply is taken out of the keyboard's bytes wherever it stands, by the
// same decoder as the keys, so keys typed around it stay keys and the reply
// never becomes text, however late or split it comes. One request of each
// kind is outstanding at a time, and a wait for it ends at a fixed deadline
// (a stop and continue does not move it). A reply that misses its wait is
// still taken out when it comes, and the next query asks again; until then
// queries do not wait, so a terminal that never answers costs one wait in
// all. An answer stays good while nothing has been written since the request,
// the window has kept its size and the process was not stopped: the queries
// of one moment ask once.
#include <unistd.h>

#include <algorithm>

#include "runtime/term/term.h"
#include "runtime/term/term_internal.h"
#include "runtime/stream/stream.h"

namespace {

constexpr int kReplyWaitMs = 1000;
// At exit a reply still on its way is awaited until this long after its
// request, so that it does not land in the shell's input instead. (A
// terminal that never answers costs no wait here once the run is longer.)
constexpr int kLateReplyMs = 3000;

Moment now() { return {stream_output_generation(), term_resize_count(), term_continue_count()}; }

Awaited& awaited_for(Report report) { return report == Report::Cursor ? term.reports.cursor : term.reports.size; }

}  // namespace

void reports_receive(Report report, int32_t a, int32_t b) {
  Awaited& w = awaited_for(report);
  // Nobody asked (or a stop since): not a reply. xterm's Ctrl+F3 reads the same as a cursor report.
  if (!w.outstanding || w.stops != term_continue_count()) return;
  w.outstanding = w.waited_out = false;
  w.answered = true;
  w.a = a;
  w.b = b;
}

void reports_await_late_replies() {
  if (!term_in_foreground()) return;
  for (const Awaited* w : {&term.reports.cursor, &term.reports.size}) {
    const int64_t end = w->deadline_ms - kReplyWaitMs + kLateReplyMs;
    while (w->outstanding && w->stops == term_continue_count() && term.device.tty.fd >= 0 && !term.keyboard.ended) {
      const int64_t left = end - keyboard_now_ms();
      if (left <= 0) break;
      keyboard_wait(static_cast<int>(left));
      keyboard_take_replies();
    }
  }
}

// Asks the terminal for a report; runs with the terminal mutex held.
bool term_query(Report report, int32_t* a, int32_t* b) {
  Awaited& w = awaited_for(report);
  if (w.outstanding && w.stops != term_continue_count()) w.outstanding = false;
  if (w.answered && w.asked_at == now()) {
    *a = w.a;
    *b = w.b;
    return true;
  }
  // In the background a reply would land in the foreground job's input.
  if (!term_in_foreground()) return false;
  if (w.outstanding && w.waited_out) return false;
  if (!w.outstanding) {
    if (!term_emit(report == Report::Cursor ? SEQ_CURSOR_REPORT : SEQ_SIZE_REPORT, 0, 0)) return false;
    w.outstanding = true;
    w.waited_out = w.answered = false;
    w.asked_at = now();
    w.stops = term_continue_count();
    w.deadline_ms = keyboard_now_ms() + kReplyWaitMs;
  }
  for (;;) {
    keyboard_take_replies();
    if (w.answered) break;
    if (w.stops != term_continue_count()) return false;  // stopped meanwhile: the next query asks again
    if (term.device.kind == TERM_KIND_OFF) return false;   // a fatal signal restored the terminal
    const int64_t left = w.deadline_ms - keyboard_now_ms();
    // Without a tty (an invented terminal) a reply can only be among the bytes already read.
    if (left <= 0 || term.keyboard.ended || term.device.tty.fd < 0) {
      w.waited_out = true;
      return false;
    }
    keyboard_wait(static_cast<int>(std::min<int64_t>(left, kReplyWaitMs)));
  }
  *a = w.a;
  *b = w.b;
  return true;
}

void term_query_cursor() {
  int32_t row = 0, column = 0;
  if (!term_query(Report::Cursor, &row, &column)) return;
  term.screen.cursor_column = column;
  term.screen.cursor_row = row;
}

bool term_ask_cursor(int32_t* column, int32_t* row) {
  if (term.device.kind == TERM_KIND_OFF) return false;
  TermLock lock;
  term_refresh_size(false);
  int32_t r = 0, c = 0;
  if (!term_query(Report::Cursor, &r, &c)) return false;
  term.screen.cursor_column = c;
  term.screen.cursor_row = r;
  *column = c;
  *row = r;
  return true;
}
