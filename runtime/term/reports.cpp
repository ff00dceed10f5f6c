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
// of one moment ask once. Nothing is asked while keys are waiting.
//
// Before the terminal is handed back, a reply still on its way is awaited
// and dropped, so that it never lands in the shell's input.
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "runtime/term/term.h"
#include "runtime/term/term_internal.h"
#include "runtime/stream/stream.h"

namespace {

constexpr int kReplyWaitMs = 1000;
// A reply still on its way when the terminal is handed back is awaited until
// this long after its request (a slow link answers in seconds).
constexpr int kLateReplyMs = 3000;

Moment now() { return {stream_output_generation(), term_resize_count(), term_continue_count()}; }

Awaited& awaited_for(Report report) { return report == Report::Cursor ? term.reports.cursor : term.reports.size; }

bool due(const Awaited& w) { return w.outstanding && w.stops == term_continue_count(); }

// Tells the decoder and the signal paths which replies are on their way.
void publish_due_replies() {
  int count = 0;
  int64_t until = 0, wait_end = 0;
  for (const Awaited* w : {&term.reports.cursor, &term.reports.size}) {
    if (!due(*w)) continue;
    ++count;
    until = std::max(until, w->asked_ms + kLateReplyMs);
    wait_end = std::max(wait_end, w->deadline_ms);
  }
  term.signals.replies_due_until_ms.store(until, std::memory_order_relaxed);
  term.signals.replies_due = count;
  term.keyboard.decoder.await_reply_until(wait_end);  // a lone ESC may begin the reply
}

// While a query waits, the keyboard reads on past line ends.
class Waiting {
 public:
  Waiting() { term.reports.waiting = true; }
  ~Waiting() { term.reports.waiting = false; }
  Waiting(const Waiting&) = delete;
  Waiting& operator=(const Waiting&) = delete;
};

int64_t steady_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// Follows bytes for the end of a reply: state 0 outside, 1 after ESC, 2 within
// "ESC [" and its parameters. True when a reply's final byte ends it.
bool reply_ends(int* state, uint8_t b) {
  const bool parameter = (b >= '0' && b <= '9') || b == ';';
  const bool ended = *state == 2 && (b == 'R' || b == 't');
  if (b == 27) {
    *state = 1;
  } else if (*state == 1 && b == '[') {
    *state = 2;
  } else if (!(*state == 2 && parameter)) {
    *state = 0;
  }
  return ended;
}

}  // namespace

void reports_receive(Report report, int32_t a, int32_t b) {
  Awaited& w = awaited_for(report);
  // Nobody asked (or a stop since): not a reply. xterm's Ctrl+F3 reads the same as a cursor report.
  if (!due(w)) return;
  w.outstanding = w.waited_out = false;
  w.answered = true;
  w.a = a;
  w.b = b;
  publish_due_replies();
}

void reports_take_replies() {
  KeyDecoder& decoder = term.keyboard.decoder;
  if (term.signals.replies_due > 0) {
    KeyEvent reply;
    const int64_t at = keyboard_now_ms();
    while (decoder.take_reply(at, &reply))
      reports_receive(reply.kind == KeyEvent::Kind::CursorReport ? Report::Cursor : Report::Size, reply.a, reply.b);
  }
  term.signals.reply_tail = decoder.reply_tail();
}

void reports_await_due_replies() {
  int due = term.signals.replies_due;
  const int fd = term.device.tty.fd;
  // From the background a read would stop the process: the reply goes to the foreground job.
  if (due <= 0 || fd < 0 || !term_in_foreground()) return;
  const int64_t until = term.signals.replies_due_until_ms.load(std::memory_order_relaxed);
  int state = term.signals.reply_tail;
  for (int64_t left; due > 0 && (left = until - steady_ms()) > 0;) {
    pollfd tty{fd, POLLIN, 0};
    const int ready = poll(&tty, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (tty.revents & POLLIN) == 0) break;
    uint8_t byte = 0;
    const ssize_t got = read(fd, &byte, 1);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) break;
    if (got == 1 && reply_ends(&state, byte)) --due;
  }
  term.signals.replies_due = 0;
}

// Asks the terminal for a report; runs with the terminal mutex held.
bool term_query(Report report, int32_t* a, int32_t* b) {
  Awaited& w = awaited_for(report);
  if (w.outstanding && w.stops != term_continue_count()) {
    w.outstanding = false;
    publish_due_replies();
  }
  if (w.answered && w.asked_at == now()) {
    *a = w.a;
    *b = w.b;
    return true;
  }
  // In the background a reply would land in the foreground job's input.
  if (!term_in_foreground()) return false;
  if (w.outstanding && w.waited_out) return false;
  if (!w.outstanding) {
    if (keyboard_input_waiting()) return false;
    if (!term_emit(report == Report::Cursor ? SEQ_CURSOR_REPORT : SEQ_SIZE_REPORT, 0, 0)) return false;
    w.outstanding = true;
    w.waited_out = w.answered = false;
    w.asked_at = now();
    w.stops = term_continue_count();
    w.asked_ms = keyboard_now_ms();
    w.deadline_ms = w.asked_ms + kReplyWaitMs;
    publish_due_replies();
  }
  Waiting waiting;
  for (;;) {
    keyboard_fill();
    if (w.answered) break;
    if (w.stops != term_continue_count()) return false;  // stopped meanwhile: the next query asks again
    if (term.device.kind == TERM_KIND_OFF) return false;   // a fatal signal restored the terminal
    // Without a tty (an invented terminal) a reply can only be among the bytes already read.
    if (keyboard_now_ms() >= w.deadline_ms || term.keyboard.ended || term.device.tty.fd < 0) {
      w.waited_out = true;
      return false;
    }
    keyboard_wait_until(w.deadline_ms);
  }
  // The window changed while the reply was on its way: it tells of the old one.
  if (w.asked_at.resizes != term_resize_count()) return false;
  *a = w.a;
  *b = w.b;
  return true;
}

namespace {

// A reported cursor outside the window (a terminal gone wrong) is taken at its edge.
void store_cursor(int32_t row, int32_t column) {
  term.screen.cursor_column = std::clamp(column, 1, std::max(term.screen.window_columns, 1));
  term.screen.cursor_row = std::clamp(row, 1, std::max(term.screen.window_rows, 1));
}

}  // namespace

void term_query_cursor() {
  int32_t row = 0, column = 0;
  if (term_query(Report::Cursor, &row, &column)) store_cursor(row, column);
}

bool term_ask_cursor(int32_t* column, int32_t* row) {
  if (term.device.kind == TERM_KIND_OFF) return false;
  TermLock lock;
  term_refresh_size(false);
  int32_t r = 0, c = 0;
  if (!term_query(Report::Cursor, &r, &c)) return false;
  store_cursor(r, c);
  *column = term.screen.cursor_column;
  *row = term.screen.cursor_row;
  return true;
}
