// SPDX-License-Identifier: MIT
#include "runtime/stream/stream.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "runtime/core/core.h"

namespace {

constexpr std::size_t kBlock = 64 * 1024;

void end_the_program(const char*, int) { end_with_failure(); }

// The streams' state: one record.
struct Streams {
  struct {
    uint8_t bytes[kBlock];
    std::size_t used;
    bool to_terminal;     // standard output is a terminal: every write goes out at once
    bool failed;          // a write failed for good; nothing more is written
    bool ending;          // shut-down's own flush: a failure is only recorded
    uint64_t generation;  // counts the writes
  } output;
  struct {
    uint8_t bytes[kBlock];
    std::size_t next;     // the next byte to hand out
    std::size_t end;      // bytes in the block
    bool ended;           // descriptor 0 reported the end of the input, or failed
    bool failed;          // a read failed (not the end of the input)
  } input;
  OutputWatcher watcher;  // whether a write goes out now; none: when to_terminal
  StreamFailure failure;  // told of a failed read or write
};
constinit Streams streams{{}, {}, nullptr, end_the_program};

void tell_failure(const char* operation, int error) {
  if (streams.failure != nullptr) streams.failure(operation, error);
}

// Shut-down's own flush only records the failure: the process is ending.
void output_failed(int error) {
  streams.output.failed = true;
  streams.output.used = 0;
  if (!streams.output.ending) tell_failure("write", error);
}

bool watched() { return streams.watcher != nullptr ? streams.watcher() : streams.output.to_terminal; }

// Reads the next block of standard input; false at its end.
bool fill_input() {
  stream_flush();  // whoever waits for our answer gets it before we wait for theirs
  auto& input = streams.input;
  input.next = input.end = 0;
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, input.bytes, sizeof input.bytes);
    if (got > 0) {
      input.end = static_cast<std::size_t>(got);
      return true;
    }
    if (got == 0) break;
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      pollfd in{STDIN_FILENO, POLLIN, 0};
      poll(&in, 1, -1);
      continue;
    }
    input.ended = input.failed = true;
    tell_failure("read", errno);  // EISDIR, EBADF, EIO: not the end of the input
    return false;
  }
  input.ended = true;
  return false;
}

}  // namespace

void stream_init(bool output_is_terminal) { streams.output.to_terminal = output_is_terminal; }
void stream_set_watcher(OutputWatcher watcher) { streams.watcher = watcher; }
void stream_set_failure_handler(StreamFailure handler) { streams.failure = handler; }

bool stream_write_fully(const void* data, std::size_t length) {
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
      if (put == 0) errno = EIO;
      return false;  // EPIPE, ENOSPC, EBADF, EIO, or no progress at all
    }
  }
  return true;
}

void stream_output(const void* data, std::size_t length) {
  auto& output = streams.output;
  if (output.failed) return;
  if (length != 0) ++output.generation;
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (length >= sizeof output.bytes - output.used) {
    // Larger than what is left: what is collected goes first, then the rest directly.
    if (!stream_flush()) return;
    if (length >= sizeof output.bytes) {
      if (!stream_write_fully(bytes, length)) output_failed(errno);
      return;
    }
  }
  std::memcpy(output.bytes + output.used, bytes, length);
  output.used += length;
}

void stream_output_done() {
  if (watched()) stream_flush();
}

bool stream_flush() {
  auto& output = streams.output;
  if (output.failed) return false;
  if (output.used == 0) return true;
  const std::size_t used = output.used;
  output.used = 0;
  if (!stream_write_fully(output.bytes, used)) {
    output_failed(errno);
    return false;
  }
  return true;
}

void stream_discard_output() { streams.output.used = 0; }

bool stream_flush_at_exit() {
  streams.output.ending = true;
  return stream_flush();
}

bool stream_output_failed() { return streams.output.failed; }
uint64_t stream_output_generation() { return streams.output.generation; }

int stream_input_byte() {
  auto& input = streams.input;
  if (input.next == input.end && (input.ended || !fill_input())) return -1;
  return input.bytes[input.next++];
}

std::size_t stream_input(void* destination, std::size_t wanted) {
  auto& input = streams.input;
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

std::size_t stream_input_some(void* destination, std::size_t wanted) {
  auto& input = streams.input;
  if (input.next == input.end && (input.ended || !fill_input())) return 0;
  const std::size_t n = std::min(wanted, input.end - input.next);
  std::memcpy(destination, input.bytes + input.next, n);
  input.next += n;
  return n;
}

bool stream_input_ended() { return streams.input.ended && streams.input.next == streams.input.end; }
bool stream_input_failed() { return streams.input.failed; }

void stream_input_forget() {
  streams.input.next = streams.input.end = 0;
  streams.input.ended = false;
}
