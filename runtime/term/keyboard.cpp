// SPDX-License-Identifier: MIT
// The keyboard: bytes pulled from the key reader and kept, in the order they
// came, until the decoder takes them as keys. The bytes of one key may come
// in several reads (a serial line, a busy network link): a sequence that has
// begun waits here for the rest, a lone ESC for the escape delay and a
// longer sequence for the sequence limit. Replies to report requests are
// taken out of the bytes wherever they stand, leaving the keys in order.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "runtime/core/core.h"
#include "runtime/term/term.h"
#include "runtime/term/term_state.h"

Keyboard keyboard;

namespace {

constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kFillLimit = 64 * 1024;  // bytes taken per fill: a long paste is decoded in slices
// No key or reply is longer: a sequence that runs on past this is thrown
// away as it comes, however long it goes on (a terminal gone wrong).
constexpr std::size_t kLongestSequence = 256;

// What was read from the tty and not yet handed to the keyboard.
struct TtyChunk {
  uint8_t bytes[kReadChunk];
  std::size_t next;
  std::size_t end;
};
constinit TtyChunk chunk{};

// Reads whatever the tty holds, without waiting; notes its end. Only while
// the terminal is driven: a fatal signal that was ignored restores the modes
// (and the blocking descriptor), and the terminal's own line editing then
// delivers the rest through standard input. In the foreground the descriptor
// is polled first, so a read cannot block even when the modes were just
// restored. From the background the read is made, so that job control acts
// as it does for any program: SIGTTIN stops it, or, ignored, the read fails.
bool read_tty_chunk() {
  if (term_state.tty.fd < 0 || keyboard.ended || term_state.kind == TERM_KIND_OFF) return false;
  pollfd tty{term_state.tty.fd, POLLIN, 0};
  if (term_in_foreground() && poll(&tty, 1, 0) <= 0) return false;
  ssize_t got;
  do {
    got = read(term_state.tty.fd, chunk.bytes, sizeof chunk.bytes);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    chunk.next = 0;
    chunk.end = static_cast<std::size_t>(got);
    return true;
  }
  if (got == 0) {
    keyboard.ended = true;
  } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
    end_with_failure();  // EIO, EBADF: reading the terminal failed, which is not the end of the input
  }
  return false;
}

// The bytes at the front: a lone ESC (or ESC ESC) waits the escape delay,
// anything longer the sequence limit.
int wait_limit_ms(std::size_t at) {
  const std::size_t count = keyboard.bytes.size() - at;
  const bool escapes_only = keyboard.bytes[at] == 27 && (count == 1 || (count == 2 && keyboard.bytes[at + 1] == 27));
  return escapes_only ? keyboard.escape_delay_ms : std::max(keyboard.escape_delay_ms, KEY_SEQUENCE_LIMIT_MS);
}

bool waited_out_at(std::size_t at) {
  return keyboard.ended || keyboard_now_ms() - keyboard.last_arrival_ms >= wait_limit_ms(at);
}

// New bytes come: what waited for them longer than its limit is decided as it
// stands, and the new bytes cannot join it.
void arrive(int64_t now) {
  const bool escape_last = keyboard_has_pending() && keyboard.bytes.back() == 27;
  const int limit = escape_last ? keyboard.escape_delay_ms : std::max(keyboard.escape_delay_ms, KEY_SEQUENCE_LIMIT_MS);
  if (keyboard_has_pending() && now - keyboard.last_arrival_ms >= limit &&
      (keyboard.breaks.empty() || keyboard.breaks.back() != keyboard.bytes.size())) {
    keyboard.breaks.push_back(keyboard.bytes.size());
  }
  keyboard.last_arrival_ms = now;
}

// Drops what was decoded, once it is most of the buffer.
void compact() {
  if (keyboard.next == keyboard.bytes.size()) {
    keyboard.bytes.clear();
    keyboard.breaks.clear();
    keyboard.next = keyboard.scanned = 0;
  } else if (keyboard.next > 4096 && keyboard.next > keyboard.bytes.size() / 2) {
    const std::size_t dropped = keyboard.next;
    keyboard.bytes.erase(keyboard.bytes.begin(), keyboard.bytes.begin() + static_cast<std::ptrdiff_t>(dropped));
    for (std::size_t& at : keyboard.breaks) at -= dropped;
    keyboard.scanned -= std::min(keyboard.scanned, dropped);
    keyboard.next = 0;
  }
}

// The unit at index at: it ends at the next break at the latest, and is
// decided as it stands once its wait is over.
DecodedUnit unit_at(std::size_t at) {
  std::size_t end = keyboard.bytes.size();
  for (std::size_t cut : keyboard.breaks) {
    if (cut > at) {
      end = std::min(end, cut);
      break;
    }
  }
  const uint8_t* bytes = keyboard.bytes.data() + at;
  const bool cut_off = end < keyboard.bytes.size();
  DecodedUnit unit = decode_unit(bytes, end - at, cut_off);
  if (unit.kind == Unit::Incomplete && waited_out_at(at)) unit = decode_unit(bytes, end - at, true);
  return unit;
}

// Takes a reply out of the bytes, leaving a break where it stood: an ESC
// before it was the Escape key, not the start of what comes after it.
void take_out(std::size_t at, std::size_t length) {
  const auto from = keyboard.bytes.begin() + static_cast<std::ptrdiff_t>(at);
  keyboard.bytes.erase(from, from + static_cast<std::ptrdiff_t>(length));
  for (std::size_t& cut : keyboard.breaks) {
    if (cut > at) cut -= std::min(cut - at, length);
  }
  if (at > keyboard.next && std::find(keyboard.breaks.begin(), keyboard.breaks.end(), at) == keyboard.breaks.end()) {
    keyboard.breaks.insert(std::upper_bound(keyboard.breaks.begin(), keyboard.breaks.end(), at), at);
  }
}

}  // namespace

int keyboard_read_byte() {
  if (chunk.next == chunk.end && !read_tty_chunk()) return -1;
  return chunk.bytes[chunk.next++];
}

int64_t keyboard_now_ms() {
  if (keyboard.clock != nullptr) return keyboard.clock();
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
}

void keyboard_fill() {
  if (term_state.key_reader == nullptr) return;
  compact();
  for (std::size_t taken = 0; taken < kFillLimit; ++taken) {
    const int byte = term_state.key_reader();
    if (byte < 0) break;
    if (taken == 0) arrive(keyboard_now_ms());
    keyboard.bytes.push_back(static_cast<uint8_t>(byte));
  }
}

bool keyboard_has_pending() { return keyboard.next < keyboard.bytes.size(); }

DecodedUnit keyboard_front_unit() {
  if (!keyboard_has_pending()) return {Unit::Incomplete, -1, 0, 0, 0};
  const uint8_t* front = keyboard.bytes.data() + keyboard.next;
  const std::size_t count = keyboard.bytes.size() - keyboard.next;
  if (keyboard.discarding) {
    // The rest of an overlong sequence: its parameters, then its final byte.
    std::size_t length = 0;
    while (length < count && front[length] >= 0x20 && front[length] <= 0x3F) ++length;
    if (length < count) {
      if (front[length] >= 0x40 && front[length] <= 0x7E) ++length;
      keyboard.discarding = false;
    }
    if (length != 0) return {Unit::Ignored, -1, 0, 0, length};
  }
  const DecodedUnit unit = unit_at(keyboard.next);
  if (unit.kind == Unit::Incomplete && count > kLongestSequence) {
    keyboard.discarding = true;
    return {Unit::Ignored, -1, 0, 0, count};
  }
  return unit;
}

void keyboard_consume(std::size_t length) {
  keyboard.next += length;
  while (!keyboard.breaks.empty() && keyboard.breaks.front() <= keyboard.next) keyboard.breaks.erase(keyboard.breaks.begin());
}

void keyboard_take_replies() {
  keyboard_fill();
  std::size_t at = std::max(keyboard.scanned, keyboard.next);
  while (at < keyboard.bytes.size()) {
    const DecodedUnit unit = unit_at(at);
    if (unit.kind == Unit::Incomplete) break;
    if (unit.kind == Unit::CursorReport || unit.kind == Unit::SizeReport) {
      reports_receive(unit.kind == Unit::CursorReport ? Report::Cursor : Report::Size, unit.a, unit.b);
      take_out(at, unit.length);
    } else {
      at += unit.length;
    }
  }
  keyboard.scanned = at;
}

void keyboard_wait(int milliseconds) {
  if (term_state.tty.fd < 0 || keyboard.ended || milliseconds <= 0) return;
  pollfd tty{term_state.tty.fd, POLLIN, 0};
  poll(&tty, 1, milliseconds);
}

void term_wait_for_key(int milliseconds) {
  if (!key_queue_empty()) return;
  if (keyboard_has_pending()) {
    if (keyboard_front_unit().kind != Unit::Incomplete) return;  // a key is there to decode
    // A sequence still arriving: wait no longer than until it is decided.
    const int64_t decided = keyboard.last_arrival_ms + wait_limit_ms(keyboard.next);
    milliseconds = static_cast<int>(std::clamp<int64_t>(decided - keyboard_now_ms(), 0, milliseconds));
  }
  keyboard_wait(milliseconds);
}

bool term_keyboard_ended() { return keyboard.ended && !keyboard_has_pending(); }
