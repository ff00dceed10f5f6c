// SPDX-License-Identifier: MIT
// Report queries: the cursor position and window size requests, the waits
// for their replies, and the replies taken out of the keyboard's bytes. What
// was asked and answered is kept by the tracker (report_tracker.cpp).
//
// A reply is taken out of the keyboard's bytes wherever it stands, by the
// same decoder as the keys, so keys typed around it stay keys and the reply
// never becomes text, however late or split it comes. Nothing is asked while
// keys are waiting. Before the terminal is handed back, a reply still on its
// way is awaited and dropped, so that it never lands in the shell's input.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cerrno>

#include "runtime/stream/stream.h"
#include "runtime/term/keyboard/keyboard.h"
#include "runtime/term/questions/reports.h"
#include "runtime/term/screen/window.h"
#include "runtime/term/term_internal.h"
#include "runtime/term/screen/tracked_screen.h"

namespace {

Moment now() { return {stream_output_generation(), term_resize_count(), term_continue_count()}; }

// The replies on their way, as the signal paths read them: how many, and
// until when (steady clock, ms) they are awaited before the terminal is
// handed back.
struct DueReplies {
  volatile sig_atomic_t count;
  std::atomic<int64_t> until_ms;
};
DueReplies due_replies;

// Whether the keyboard has the kitty protocol: 1 yes, -1 no, 0 not known yet.
volatile sig_atomic_t keyboard_protocol = 0;

// Tells the keyboard and the signal paths which replies are on their way.
void publish_due_replies() {
  const ReportTracker::Due due = term_reports.due(term_continue_count());
  due_replies.until_ms.store(due.until_ms, std::memory_order_relaxed);
  due_replies.count = due.count;
  keyboard_expect_replies(due.count, due.wait_end_ms);
}

// The signal paths learn of a question before it leaves, so that a signal
// that comes right after it awaits its reply (publish_due_replies then
// says exactly what is due).
void announce_question() {
  const int64_t until = keyboard_now_ms() + ReportTracker::kLateReplyMs;
  if (due_replies.until_ms.load(std::memory_order_relaxed) < until)
    due_replies.until_ms.store(until, std::memory_order_relaxed);
  due_replies.count = due_replies.count + 1;
}

// While a query waits, the keyboard reads on past line ends.
class Waiting {
 public:
  Waiting() { keyboard_read_past_line_ends(true); }
  ~Waiting() { keyboard_read_past_line_ends(false); }
  Waiting(const Waiting&) = delete;
  Waiting& operator=(const Waiting&) = delete;
};

}  // namespace

void reports_receive(const KeyEvent& reply) {
  if (reply.kind == KeyEvent::Kind::KeyboardReport || reply.kind == KeyEvent::Kind::AttributesReport) {
    if (reply.kind == KeyEvent::Kind::KeyboardReport) {
      keyboard_protocol = 1;
    } else if (keyboard_protocol == 0) {
      keyboard_protocol = -1;  // the device attributes came alone
    }
    if (reply.kind == KeyEvent::Kind::AttributesReport &&
        term_reports.receive(Report::Keyboard, 0, 0, term_continue_count()))
      publish_due_replies();
    return;
  }
  const Report report = reply.kind == KeyEvent::Kind::CursorReport ? Report::Cursor : Report::Size;
  if (!term_reports.receive(report, reply.row, reply.column, term_continue_count())) return;
  keyboard_reply_took(keyboard_now_ms() - term_reports.asked_ms(report));
  publish_due_replies();
}

namespace {

// Keys met before the terminal is handed back: given back to the terminal's
// input (TIOCSTI), in the order they came, for the shell to read. Kernels
// built without legacy TIOCSTI refuse, and those keys are lost.
struct GivenBack {
  uint8_t bytes[4096];
  std::size_t count;
};
GivenBack given_back;

void give_back(const uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count && given_back.count < sizeof given_back.bytes; ++i)
    given_back.bytes[given_back.count++] = bytes[i];
}

// Whether the kernel lets keys be given back: a TIOCSTI it allows fails
// only on reading its byte (EFAULT), one it refuses fails before.
bool may_give_back(int fd) { return ioctl(fd, TIOCSTI, nullptr) < 0 && errno == EFAULT; }

// Keys typed after the last reply, still in the terminal's input: given
// back behind them, the keys read before would reach the shell after them.
void take_keys_still_waiting(int fd) {
  uint8_t rest[256];
  for (pollfd tty{fd, POLLIN, 0}; given_back.count < sizeof given_back.bytes;) {
    if (poll(&tty, 1, 0) <= 0 || (tty.revents & POLLIN) == 0) break;
    const std::size_t room = std::min(sizeof rest, sizeof given_back.bytes - given_back.count);
    const ssize_t got = read(fd, rest, room);
    if (got <= 0) break;
    give_back(rest, static_cast<std::size_t>(got));
  }
}

}  // namespace

void reports_keep_untaken_keys_for_the_shell() {
  const std::string untaken = keyboard_untaken_bytes();
  give_back(reinterpret_cast<const uint8_t*>(untaken.data()), untaken.size());
}

void reports_await_due_replies(bool for_the_shell) {
  int due = due_replies.count;
  const int fd = term.device.tty.fd;
  // From the background a read would stop the process: the reply goes to the foreground job.
  if (due > 0 && fd >= 0 && term_in_foreground()) {
    const int64_t until = due_replies.until_ms.load(std::memory_order_relaxed);
    ReplyScanner scanner(keyboard_reply_tail());
    uint8_t held[32];  // what may be the start of a reply
    std::size_t held_count = 0;
    for (int64_t left; due > 0 && (left = until - keyboard_now_ms()) > 0;) {
      pollfd tty{fd, POLLIN, 0};
      const int ready = poll(&tty, 1, static_cast<int>(left));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || (tty.revents & POLLIN) == 0) break;
      uint8_t byte = 0;
      const ssize_t got = read(fd, &byte, 1);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) break;
      if (got != 1) continue;
      if (byte == 27 && held_count != 0) {  // another sequence begins: what was held was keys
        give_back(held, held_count);
        held_count = 0;
      }
      const ReplyScanner::End end = scanner.feed(byte);
      if (end != ReplyScanner::End::No) {  // a reply, dropped
        if (end == ReplyScanner::End::Answered) --due;
        held_count = 0;
      } else if (scanner.state() != 0 && held_count < sizeof held) {
        held[held_count++] = byte;
      } else {  // keys, typed before the reply came
        give_back(held, held_count);
        give_back(&byte, 1);
        held_count = 0;
      }
    }
    give_back(held, held_count);
  }
  due_replies.count = 0;
  if (for_the_shell && fd >= 0 && given_back.count != 0 && may_give_back(fd)) {
    if (term_in_foreground()) take_keys_still_waiting(fd);
    for (std::size_t i = 0; i < given_back.count; ++i) ioctl(fd, TIOCSTI, &given_back.bytes[i]);
  }
  given_back.count = 0;
}

bool term_query(Report report, int32_t* row, int32_t* column) {
  ReportTracker& tracker = term_reports;
  if (tracker.forget_if_stopped(report, term_continue_count())) publish_due_replies();
  if (tracker.answer_at(report, now(), row, column)) return true;
  // In the background a reply would land in the foreground job's input.
  if (!term_in_foreground()) return false;
  if (tracker.outstanding(report) && tracker.waited_out(report)) return false;
  if (!tracker.outstanding(report)) {
    if (keyboard_input_waiting()) return false;
    if (!term_emit(report == Report::Cursor ? SEQ_CURSOR_REPORT : SEQ_SIZE_REPORT, 0, 0)) return false;
    announce_question();
    stream_flush();  // out now, even while output is held: the wait is for its reply
    tracker.asked(report, now(), keyboard_now_ms());
    publish_due_replies();
  }
  Waiting waiting;
  for (;;) {
    keyboard_fill();
    if (tracker.answered(report)) break;
    if (tracker.asked_stops(report) != term_continue_count()) return false;  // stopped meanwhile: the next query asks again
    if (!handling_active()) return false;  // a fatal signal restored the terminal
    // Without a tty (an invented terminal) a reply can only be among the bytes already read.
    if (keyboard_now_ms() >= tracker.deadline(report) || keyboard_reached_end() || term.device.tty.fd < 0) {
      tracker.wait_ran_out(report);
      return false;
    }
    keyboard_wait_until(tracker.deadline(report));
  }
  return tracker.answer(report, term_resize_count(), row, column);
}

void term_ask_keyboard_protocol() {
  ReportTracker& tracker = term_reports;
  if (tracker.ever_asked(Report::Keyboard) || !term_in_foreground() || keyboard_input_waiting()) return;
  static constexpr char kQuestion[] = "\033[?u\033[c";  // the device attributes behind: every terminal answers them
  announce_question();
  stream_output(kQuestion, sizeof kQuestion - 1);
  stream_output_done();
  tracker.asked(Report::Keyboard, now(), keyboard_now_ms());
  publish_due_replies();
}

int term_keyboard_protocol_known() { return keyboard_protocol; }

void reports_reset() {
  term_reports = ReportTracker{};
  due_replies.count = 0;
  due_replies.until_ms.store(0, std::memory_order_relaxed);
  keyboard_protocol = 0;
  given_back.count = 0;
}

void term_query_cursor() {
  int32_t row = 0, column = 0;
  if (term_query(Report::Cursor, &row, &column)) tracked_move_to(column, row);
}

bool term_cursor_follows_output() {
  return handling_active() && !term_resize_pending() &&
         term_reports.asked_since(Report::Cursor, term_resize_count(), term_continue_count());
}

// The answer itself (within the window), not the tracked screen's cursor:
// the line editor keeps its own model.
bool term_ask_cursor(int32_t* column, int32_t* row) {
  if (!handling_active()) return false;
  TermLock lock;
  term_refresh_size(ask_terminal_size);
  int32_t r = 0, c = 0;
  if (!term_query(Report::Cursor, &r, &c)) return false;
  *column = std::clamp(c, 1, std::max(term_window.window_columns, 1));
  *row = std::clamp(r, 1, std::max(term_window.window_rows, 1));
  tracked_move_to(*column, *row);  // the tracked screen follows the answer
  return true;
}
