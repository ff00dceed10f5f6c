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
#include "runtime/term/term_internal.h"

namespace {

constexpr std::size_t kFillLimit = 64 * 1024;  // bytes taken per fill: a long paste is decoded in slices
// No key or reply is longer: a sequence that runs on past this is thrown
// away as it comes, however long it goes on (a terminal gone wrong).
constexpr std::size_t kLongestSequence = 256;

// Reads whatever the tty holds, without waiting; notes its end. Only while
// the terminal is driven: a fatal signal that was ignored restores the modes
// (and the blocking descriptor), and the terminal's own line editing then
// delivers the rest through standard input. In the foreground the descriptor
// is polled first, so a read cannot block even when the modes were just
// restored. From the background the read is made, so that job control acts
// as it does for any program: SIGTTIN stops it, or, ignored, the read fails.
bool read_tty_chunk() {
  if (term.device.tty.fd < 0 || term.keyboard.ended || term.device.kind == TERM_KIND_OFF) return false;
  pollfd tty{term.device.tty.fd, POLLIN, 0};
  if (term_in_foreground() && poll(&tty, 1, 0) <= 0) return false;
  ssize_t got;
  do {
    got = read(term.device.tty.fd, term.keyboard.chunk.bytes, sizeof term.keyboard.chunk.bytes);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    term.keyboard.chunk.next = 0;
    term.keyboard.chunk.end = static_cast<std::size_t>(got);
    return true;
  }
  if (got == 0) {
    term.keyboard.ended = true;
  } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
    end_with_failure();  // EIO, EBADF: reading the terminal failed, which is not the end of the input
  }
  return false;
}

// How long a begun sequence longer than a lone ESC is awaited (never less than the escape delay).
int sequence_limit_ms() { return std::max(term.keyboard.escape_delay_ms, KEY_SEQUENCE_LIMIT_MS); }

// The bytes at the front: a lone ESC (or ESC ESC) waits the escape delay,
// anything longer the sequence limit.
int wait_limit_ms(std::size_t at) {
  const std::size_t count = term.keyboard.bytes.size() - at;
  const bool escapes_only = term.keyboard.bytes[at] == 27 && (count == 1 || (count == 2 && term.keyboard.bytes[at + 1] == 27));
  return escapes_only ? term.keyboard.escape_delay_ms : sequence_limit_ms();
}

bool waited_out_at(std::size_t at) {
  return term.keyboard.ended || keyboard_now_ms() - term.keyboard.last_arrival_ms >= wait_limit_ms(at);
}

// New bytes come: what waited for them longer than its limit is decided as it
// stands, and the new bytes cannot join it.
void arrive(int64_t now) {
  const bool escape_last = keyboard_has_pending() && term.keyboard.bytes.back() == 27;
  const int limit = escape_last ? term.keyboard.escape_delay_ms : sequence_limit_ms();
  if (keyboard_has_pending() && now - term.keyboard.last_arrival_ms >= limit &&
      (term.keyboard.breaks.empty() || term.keyboard.breaks.back() != term.keyboard.bytes.size())) {
    term.keyboard.breaks.push_back(term.keyboard.bytes.size());
  }
  term.keyboard.last_arrival_ms = now;
}

// Drops what was decoded, once it is most of the buffer.
void compact() {
  if (term.keyboard.next == term.keyboard.bytes.size()) {
    term.keyboard.bytes.clear();
    term.keyboard.breaks.clear();
    term.keyboard.next = term.keyboard.scanned = 0;
  } else if (term.keyboard.next > 4096 && term.keyboard.next > term.keyboard.bytes.size() / 2) {
    const std::size_t dropped = term.keyboard.next;
    term.keyboard.bytes.erase(term.keyboard.bytes.begin(), term.keyboard.bytes.begin() + static_cast<std::ptrdiff_t>(dropped));
    for (std::size_t& at : term.keyboard.breaks) at -= dropped;
    term.keyboard.scanned -= std::min(term.keyboard.scanned, dropped);
    term.keyboard.next = 0;
  }
}

// The unit at index at: it ends at the next break at the latest, and is
// decided as it stands once its wait is over.
DecodedUnit unit_at(std::size_t at) {
  std::size_t end = term.keyboard.bytes.size();
  for (std::size_t cut : term.keyboard.breaks) {
    if (cut > at) {
      end = std::min(end, cut);
      break;
    }
  }
  const uint8_t* bytes = term.keyboard.bytes.data() + at;
  const bool cut_off = end < term.keyboard.bytes.size();
  DecodedUnit unit = decode_unit(bytes, end - at, cut_off);
  if (unit.kind == Unit::Incomplete && waited_out_at(at)) unit = decode_unit(bytes, end - at, true);
  return unit;
}

// Takes a reply out of the bytes, leaving a break where it stood: an ESC
// before it was the Escape key, not the start of what comes after it.
void take_out(std::size_t at, std::size_t length) {
  const auto from = term.keyboard.bytes.begin() + static_cast<std::ptrdiff_t>(at);
  term.keyboard.bytes.erase(from, from + static_cast<std::ptrdiff_t>(length));
  for (std::size_t& cut : term.keyboard.breaks) {
    if (cut > at) cut -= std::min(cut - at, length);
  }
  if (at > term.keyboard.next && std::find(term.keyboard.breaks.begin(), term.keyboard.breaks.end(), at) == term.keyboard.breaks.end()) {
    term.keyboard.breaks.insert(std::upper_bound(term.keyboard.breaks.begin(), term.keyboard.breaks.end(), at), at);
  }
}

}  // namespace

int keyboard_read_byte() {
  if (term.keyboard.chunk.next == term.keyboard.chunk.end && !read_tty_chunk()) return -1;
  return term.keyboard.chunk.bytes[term.keyboard.chunk.next++];
}

int64_t keyboard_now_ms() {
  if (term.keyboard.clock != nullptr) return term.keyboard.clock();
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
}

void keyboard_fill() {
  if (term.device.key_reader == nullptr) return;
  compact();
  for (std::size_t taken = 0; taken < kFillLimit; ++taken) {
    const int byte = term.device.key_reader();
    if (byte < 0) break;
    if (taken == 0) arrive(keyboard_now_ms());
    term.keyboard.bytes.push_back(static_cast<uint8_t>(byte));
  }
}

bool keyboard_has_pending() { return term.keyboard.next < term.keyboard.bytes.size(); }

DecodedUnit keyboard_front_unit() {
  if (!keyboard_has_pending()) return {Unit::Incomplete, -1, 0, 0, 0};
  const uint8_t* front = term.keyboard.bytes.data() + term.keyboard.next;
  const std::size_t count = term.keyboard.bytes.size() - term.keyboard.next;
  if (term.keyboard.discarding) {
    // The rest of an overlong sequence: its parameters, then its final byte.
    std::size_t length = 0;
    while (length < count && csi_parameter_or_intermediate(front[length])) ++length;
    if (length < count) {
      if (csi_final(front[length])) ++length;
      term.keyboard.discarding = false;
    }
    if (length != 0) return {Unit::Ignored, -1, 0, 0, length};
  }
  const DecodedUnit unit = unit_at(term.keyboard.next);
  if (unit.kind == Unit::Incomplete && count > kLongestSequence) {
    term.keyboard.discarding = true;
    return {Unit::Ignored, -1, 0, 0, count};
  }
  return unit;
}

void keyboard_consume(std::size_t length) {
  term.keyboard.next += length;
  while (!term.keyboard.breaks.empty() && term.keyboard.breaks.front() <= term.keyboard.next) term.keyboard.breaks.erase(term.keyboard.breaks.begin());
}

void keyboard_take_replies() {
  keyboard_fill();
  std::size_t at = std::max(term.keyboard.scanned, term.keyboard.next);
  while (at < term.keyboard.bytes.size()) {
    const DecodedUnit unit = unit_at(at);
    if (unit.kind == Unit::Incomplete) break;
    if (receive_if_reply(unit)) {
      take_out(at, unit.length);
    } else {
      at += unit.length;
    }
  }
  term.keyboard.scanned = at;
}

void keyboard_wait(int milliseconds) {
  if (term.device.tty.fd < 0 || term.keyboard.ended || milliseconds <= 0) return;
  pollfd tty{term.device.tty.fd, POLLIN, 0};
  poll(&tty, 1, milliseconds);
}

void term_wait_for_key(int milliseconds) {
  if (!key_queue_empty()) return;
  if (keyboard_has_pending()) {
    if (keyboard_front_unit().kind != Unit::Incomplete) return;  // a key is there to decode
    // A sequence still arriving: wait no longer than until it is decided.
    const int64_t decided = term.keyboard.last_arrival_ms + wait_limit_ms(term.keyboard.next);
    milliseconds = static_cast<int>(std::clamp<int64_t>(decided - keyboard_now_ms(), 0, milliseconds));
  }
  keyboard_wait(milliseconds);
}

bool term_keyboard_ended() { return term.keyboard.ended && !keyboard_has_pending(); }
