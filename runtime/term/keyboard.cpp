// The keyboard buffer: bytes read from the tty, and bytes that report queries
// met while waiting for their reply, in the order they came.
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/term/term.h"
#include "runtime/term/term_state.h"

Keyboard keyboard;

namespace {

constexpr std::size_t kReadChunk = 256;

// Non-blocking read of whatever the tty holds; notes a hang-up.
void fill_from_tty() {
  if (term_state.tty.fd < 0 || keyboard.ended) return;
  uint8_t chunk[kReadChunk];
  ssize_t got;
  do {
    got = read(term_state.tty.fd, chunk, sizeof chunk);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    keyboard_append(chunk, static_cast<std::size_t>(got));
  } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
    keyboard.ended = true;
  }
}

}  // namespace

void keyboard_append(const uint8_t* bytes, std::size_t count) {
  if (keyboard.next == keyboard.pending.size() && keyboard.pauses.empty()) {
    keyboard.pending.clear();
    keyboard.next = 0;
  }
  keyboard.pending.insert(keyboard.pending.end(), bytes, bytes + count);
}

void keyboard_append_pause() {
  if (keyboard_has_pending()) keyboard.pauses.push_back(keyboard.pending.size());
}

bool keyboard_has_pending() { return keyboard.next < keyboard.pending.size(); }

int keyboard_read_byte() {
  if (!keyboard.pauses.empty() && keyboard.pauses.front() == keyboard.next) {
    keyboard.pauses.erase(keyboard.pauses.begin());
    return -1;  // what followed arrived later, as a separate key
  }
  if (!keyboard_has_pending()) fill_from_tty();
  if (!keyboard_has_pending()) return -1;
  return keyboard.pending[keyboard.next++];
}

void term_wait_for_key(int milliseconds) {
  if (keyboard_has_pending() || key_state.byte_held || term_state.tty.fd < 0 || keyboard.ended) return;
  pollfd tty{term_state.tty.fd, POLLIN, 0};
  poll(&tty, 1, milliseconds);
}

bool term_keyboard_ended() { return keyboard.ended && !keyboard_has_pending(); }
