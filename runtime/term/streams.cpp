// SPDX-License-Identifier: MIT
// Standard output and standard input as the program's own buffered streams.
//
// Output goes to descriptor 1. Where someone may be watching (standard output
// a terminal, or the terminal driven) every write reaches it at once; into a
// file or pipe the bytes collect in one buffer that is written when it fills,
// before standard input is read from its descriptor, and at shut-down. A
// write that fails for good ends the program with status 1.
//
// Input comes from descriptor 0 in large blocks; the field scanner takes it
// a byte at a time from the block. A read that fails (not the end of the
// input) ends the program with status 1.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "runtime/core/core.h"
#include "runtime/term/term_state.h"

namespace {

constexpr std::size_t kBlock = 64 * 1024;

struct OutputStream {
  uint8_t bytes[kBlock];
  std::size_t used;
  bool buffered;       // standard output is not a terminal: collect, write in blocks
  bool failed;         // a write failed for good; nothing more is written
  bool ending;         // shut-down's own flush: a failure must not exit again
  uint64_t generation; // counts the writes
};
constinit OutputStream output{};

struct InputStream {
  uint8_t bytes[kBlock];
  std::size_t next;    // index of the next byte to hand out
  std::size_t end;     // bytes in the block
  bool ended;          // descriptor 0 reported the end of the input
};
constinit InputStream input{};

void output_failed() {
  output.failed = true;
  output.used = 0;
  if (!output.ending) end_with_failure();
}

}  // namespace

// Writes all of it, going on after interruptions and partial writes. Only
// write() and poll(): signal handlers use it too.
bool term_write_fully(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (length > 0) {
    const ssize_t put = write(STDOUT_FILENO, bytes, length);
    if (put > 0) {
      bytes += put;
      length -= static_cast<std::size_t>(put);
    } else if (put < 0 && errno == EINTR) {
      continue;
    } else if (put < 0 && errno == EAGAIN) {
      pollfd out{STDOUT_FILENO, POLLOUT, 0};  // a non-blocking descriptor someone else set up
      poll(&out, 1, -1);
    } else {
      return false;  // EPIPE, ENOSPC, EBADF, EIO, or no progress at all
    }
  }
  return true;
}

namespace {

// A terminal gets every write at once, except while the process is in the
// background: then what is written waits for the foreground.
bool output_immediate() {
  if (term_state.kind != TERM_KIND_OFF) return term_in_foreground();
  return !output.buffered;
}

// Reads the next block of standard input; false at its end.
bool fill_input() {
  term_flush();  // whoever waits for our answer gets it before we wait for theirs
  input.next = input.end = 0;
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, input.bytes, sizeof input.bytes);
    if (got > 0) {
      input.end = static_cast<std::size_t>(got);
      return true;
    }
    if (got == 0) {
      input.ended = true;
      return false;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      pollfd in{STDIN_FILENO, POLLIN, 0};
      poll(&in, 1, -1);
      continue;
    }
    end_with_failure();  // EISDIR, EBADF, EIO: not the end of the input
  }
}

}  // namespace

void term_streams_init(bool output_is_terminal) { output.buffered = !output_is_terminal; }

void term_output(const void* data, std::size_t length) {
  if (output.failed) return;
  if (length != 0) ++output.generation;
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (length >= sizeof output.bytes - output.used) {
    // Larger than what is left: what is collected goes first, then the rest directly.
    if (!term_flush()) return;
    if (length >= sizeof output.bytes) {
      if (!term_write_fully(bytes, length)) output_failed();
      return;
    }
  }
  std::memcpy(output.bytes + output.used, bytes, length);
  output.used += length;
}

void term_output_done() {
  if (output_immediate()) term_flush();
}

bool term_flush() {
  if (output.failed) return false;
  if (output.used == 0) return true;
  const std::size_t used = output.used;
  output.used = 0;
  if (!term_write_fully(output.bytes, used)) {
    output_failed();
    return false;
  }
  return true;
}

bool term_flush_at_exit() {
  output.ending = true;
  return term_flush();
}

bool term_output_failed() { return output.failed; }
uint64_t term_output_generation() { return output.generation; }

int term_input_byte() {
  if (input.next == input.end && (input.ended || !fill_input())) return -1;
  return input.bytes[input.next++];
}

std::size_t term_input(void* destination, std::size_t wanted) {
  auto* bytes = static_cast<uint8_t*>(destination);
  std::size_t delivered = 0;
  while (delivered < wanted) {
    if (input.next == input.end && (input.ended || !fill_input())) break;
    const std::size_t n = std::min(wanted - delivered, input.end - input.next);
    std::memcpy(bytes + delivered, input.bytes + input.next, n);
    input.next += n;
    delivered += n;
  }
  return delivered;
}

bool term_input_ended() { return input.ended && input.next == input.end; }

void term_input_forget() {
  input.next = input.end = 0;
  input.ended = false;
}
