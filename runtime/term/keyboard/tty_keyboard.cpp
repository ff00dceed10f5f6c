// SPDX-License-Identifier: MIT
// The keyboard: bytes read from the tty and handed to the decoder with the
// time they came; the keys and replies it gives; and the wait for more.
//
// What follows the key that ends the program belongs to the shell, so the
// keyboard never reads past a line end (CR, LF, Ctrl+D) that is not yet
// taken, and reads the tty one byte at a time, except from a backlog: when
// more than kReserve bytes are waiting, all but the last kReserve are read in
// one block, which keeps a long paste linear.
//
// Waiting blocks: in poll() on the tty and on a pipe that the signal
// handlers write to, until a key, a signal or the decoder's deadline.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>

#include "runtime/core/core.h"
#include "runtime/core/decimal.h"
#include "runtime/term/keyboard/keyboard.h"
#include "runtime/term/term_internal.h"

Keyboard term_keyboard;

namespace {

// The self-pipe: the signal handlers write to it, the waits for keys watch it.
int wake_pipe[2] = {-1, -1};


constexpr int kLongestEscapeDelayMs = 10000;


constexpr std::size_t kFillLimit = 64 * 1024;  // bytes taken per fill: a long paste is decoded in slices
constexpr int kReserve = 1024;                 // bytes of a backlog left to be read one at a time

std::optional<bool> eight_bit_as_alt;  // the inputrc's convert-meta; unset: the entry's "km"
bool eight_bit_stripped = false;       // input-meta off

// Outside UTF-8, whether a byte past ASCII is Alt with its low seven bits.
bool eight_bit_meta() { return !term_text_utf8() && eight_bit_as_alt.value_or(term.device.meta_key); }

// How many bytes the tty holds for reading. Bytes the terminal sent a moment
// ago may still be on their way into that count: poll() brings them in. A
// terminal that hung up, or any other trouble, counts as one byte: the read
// that follows tells the end or the failure.
int tty_bytes_waiting() {
  int waiting = 0;
  if (ioctl(term.device.tty.fd, FIONREAD, &waiting) != 0) return 1;
  pollfd tty{term.device.tty.fd, POLLIN, 0};
  if (waiting != 0 || poll(&tty, 1, 0) <= 0) return waiting;
  if ((tty.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return 1;
  return ioctl(term.device.tty.fd, FIONREAD, &waiting) == 0 ? waiting : 1;
}

// Reads from the tty into the keyboard's block, without waiting; notes its
// end. Only while the terminal is driven: a fatal signal that was ignored
// restores the modes, and the terminal's own line editing then delivers the
// rest through standard input. From the background the read is made even
// with nothing waiting, so that job control acts as it does for any
// program: SIGTTIN stops it, or, ignored, the read fails.
bool read_tty_block() {
  Keyboard& k = term_keyboard;
  if (term.device.tty.fd < 0 || k.ended || !handling_active()) return false;
  if (k.block.known_waiting <= 0) {
    k.block.known_waiting = tty_bytes_waiting();
    if (k.block.known_waiting <= 0 && term_in_foreground()) return false;
  }
  const std::size_t wanted =
      k.block.known_waiting > kReserve ? std::min<std::size_t>(k.block.known_waiting - kReserve, sizeof k.block.bytes) : 1;
  ssize_t got;
  do {
    got = read(term.device.tty.fd, k.block.bytes, wanted);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    k.block.next = 0;
    k.block.end = static_cast<std::size_t>(got);
    k.block.known_waiting -= static_cast<int>(got);
    return true;
  }
  k.block.known_waiting = 0;
  if (got == 0) {
    k.ended = true;
  } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
    end_with_failure();  // EIO, EBADF: reading the terminal failed, which is not the end of the input
  }
  return false;
}

// Whether the keyboard may read more now: not past a line end not yet taken
// (in the decoder or the key queue), unless a query waits for a reply, which
// may stand behind that line.
bool may_read() {
  return term_keyboard.past_line_ends || (!term_keyboard.decoder.holds_line_end() && term_key_queue.line_ends == 0);
}

// The one way from decoded replies to the report tracker: the replies due,
// taken out of the bytes ahead of keys, and (keyboard_next_event) those met
// among the keys.
void take_due_replies() {
  KeyDecoder& decoder = term_keyboard.decoder;
  if (term_keyboard.replies_expected > 0 && term_keyboard.on_reply != nullptr) {
    KeyEvent reply;
    const int64_t at = keyboard_now_ms();
    while (decoder.take_reply(at, &reply)) term_keyboard.on_reply(reply);
  }
  term_keyboard.reply_tail = decoder.reply_tail();
}

void drain_wake_pipe() {
  char drained[64];
  while (wake_pipe[0] >= 0 && read(wake_pipe[0], drained, sizeof drained) > 0) {
  }
}

}  // namespace

int keyboard_read_byte() {
  Keyboard& k = term_keyboard;
  if (k.block.next == k.block.end && !read_tty_block()) return -1;
  return k.block.bytes[k.block.next++];
}

// The steady clock through clock_gettime(), which a signal handler may call.
int64_t keyboard_now_ms() {
  if (term_keyboard.clock != nullptr) return term_keyboard.clock();
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

void keyboard_fill() {
  Keyboard& k = term_keyboard;
  if (term.device.key_reader == nullptr) return;
  if (may_read()) {
    k.fill.resize(kFillLimit);
    const bool past_line_ends = k.past_line_ends;
    std::size_t taken = 0;
    int64_t arrived = 0;  // when the first of them came
    while (taken < kFillLimit) {
      const int byte = term.device.key_reader();
      if (byte < 0) break;
      if (taken == 0) arrived = keyboard_now_ms();
      k.fill[taken++] = static_cast<uint8_t>(byte);
      if (!past_line_ends && may_end_a_line(static_cast<uint8_t>(byte))) break;
    }
    if (taken != 0) k.decoder.feed(k.fill.data(), taken, arrived);
  }
  k.decoder.set_eight_bit_meta(eight_bit_meta());
  k.decoder.set_seven_bit(eight_bit_stripped && !term_text_utf8());
  k.decoder.set_utf8(term_text_utf8());
  k.decoder.set_escape_reported(k.escape_reported);
  k.decoder.set_ended(k.ended);
  take_due_replies();
}

void term_set_eight_bit_keys(std::optional<bool> as_alt, bool stripped) {
  eight_bit_as_alt = as_alt;
  eight_bit_stripped = stripped;
}

std::vector<Key> keys_spelt_by(std::string_view bytes) {
  const KeyGrammar grammar{key_tree(), eight_bit_meta(), term_text_utf8(), eight_bit_stripped && !term_text_utf8()};
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  std::vector<Key> keys;
  for (std::size_t at = 0; at < bytes.size();) {
    const DecodedUnit unit = decode_unit(data + at, bytes.size() - at, true, grammar);
    if (unit.kind == Unit::Key) keys.push_back(unit.key);
    at += std::max<std::size_t>(unit.length, 1);
  }
  return keys;
}

void keyboard_reset() {
  term_key_queue = KeyQueue{};
  key_tree_release();
  term_keyboard = Keyboard{};
  eight_bit_as_alt.reset();
  eight_bit_stripped = false;
}

void keyboard_set_reply_listener(ReplyListener listener) { term_keyboard.on_reply = listener; }
bool keyboard_reached_end() { return term_keyboard.ended; }

void keyboard_read_past_line_ends(bool on) { term_keyboard.past_line_ends = on; }

void keyboard_expect_replies(int count, int64_t wait_end_ms) {
  term_keyboard.replies_expected = count;
  term_keyboard.decoder.await_reply_until(wait_end_ms);  // a lone ESC may begin the reply
}
// How long the link took tells how long a key's pieces may be apart.
void keyboard_reply_took(int64_t ms) { term_keyboard.decoder.observe_link_delay(ms); }
int keyboard_reply_tail() { return term_keyboard.reply_tail; }
void keyboard_report_escape(bool on) { term_keyboard.escape_reported = on ? 1 : 0; }

void term_set_escape_delay(int milliseconds) {
  KeyDecoder::Timing timing = term_keyboard.decoder.timing();
  timing.escape_delay_ms = std::clamp(milliseconds, 0, kLongestEscapeDelayMs);
  term_keyboard.decoder.set_timing(timing);
}

// ESCDELAY, in milliseconds as ncurses reads it; not a number: the default stays.
void keyboard_read_escape_delay() {
  const char* text = std::getenv("ESCDELAY");
  if (text == nullptr) return;
  const std::optional<int64_t> delay = decimal_number(text, 0, kLongestEscapeDelayMs);
  if (delay) term_set_escape_delay(static_cast<int>(*delay));
}

void keyboard_take_what_was_read() {
  Keyboard& k = term_keyboard;
  if (k.block.next < k.block.end) {
    k.decoder.feed(k.block.bytes + k.block.next, k.block.end - k.block.next, keyboard_now_ms());
    k.block.next = k.block.end;
  }
  take_due_replies();
}

void keyboard_put_back(uint8_t byte) {
  Keyboard& k = term_keyboard;
  k.block.bytes[0] = byte;
  k.block.next = 0;
  k.block.end = 1;
}

KeyEvent keyboard_next_event() {
  for (;;) {
    const KeyEvent event = term_keyboard.decoder.next(keyboard_now_ms());
    if (!event.is_reply()) return event;
    if (term_keyboard.on_reply != nullptr) term_keyboard.on_reply(event);
  }
}

bool keyboard_has_pending() { return term_keyboard.decoder.has_pending(); }

// Keys wait anywhere on their way: in the tty, in the block read, or in the
// decoder (bytes it holds, a key it has yet to give).
bool keyboard_input_waiting() {
  const Keyboard& k = term_keyboard;
  if (!may_read() || k.block.next < k.block.end || k.decoder.has_pending()) return true;
  return term.device.tty.fd >= 0 && tty_bytes_waiting() > 0;
}

std::string keyboard_untaken_bytes() {
  std::string bytes;
  const KeyQueue& queue = term_key_queue;
  for (int32_t at = queue.read_index; at != queue.write_index; at = (at + 1) % KEY_QUEUE_SIZE) {
    const Key& key = queue.slots[at];
    const int32_t code = key_code(key);
    if (key.name == KeyName::Backspace && key.modifiers == 0) {
      bytes.push_back('\177');  // as a Backspace key sends it
    } else if (code >= 0 && code <= 255) {
      bytes.push_back(static_cast<char>(code));
    }
  }
  std::string_view undecoded = term_keyboard.decoder.undecoded();
  if (term_keyboard.decoder.reply_tail() != 0) undecoded = undecoded.substr(0, undecoded.rfind('\033'));  // a reply begun
  return bytes.append(undecoded);
}

void keyboard_wait_until(int64_t deadline_ms) {
  Keyboard& k = term_keyboard;
  if (term.device.tty.fd < 0 || k.ended) return;  // an invented terminal: its script says when time passes
  pollfd fds[2];
  nfds_t count = 0;
  if (may_read() && k.block.next == k.block.end) fds[count++] = {term.device.tty.fd, POLLIN, 0};
  if (wake_pipe[0] >= 0) fds[count++] = {wake_pipe[0], POLLIN, 0};
  int timeout = -1;
  if (deadline_ms != kNoDeadline) timeout = static_cast<int>(std::clamp<int64_t>(deadline_ms - keyboard_now_ms(), 0, INT_MAX));
  if (count == 0 && timeout < 0) return;
  poll(fds, count, timeout);
  drain_wake_pipe();
}

void keyboard_open_wake_pipe() {
  if (wake_pipe[0] >= 0) return;
  if (pipe2(wake_pipe, O_NONBLOCK | O_CLOEXEC) != 0) wake_pipe[0] = wake_pipe[1] = -1;
}

void keyboard_close_wake_pipe() {
  for (int& fd : wake_pipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void keyboard_wake() {
  if (wake_pipe[1] >= 0) (void)!write(wake_pipe[1], "", 1);
}

void term_wait_for_key(int milliseconds) {
  if (!key_queue_empty()) return;
  int64_t until = milliseconds < 0 ? kNoDeadline : keyboard_now_ms() + milliseconds;
  until = std::min(until, term_keyboard.decoder.deadline());
  keyboard_wait_until(until);
}

bool term_keyboard_ended() { return term_keyboard.ended && !keyboard_has_pending(); }

int64_t term_now_ms() { return keyboard_now_ms(); }
