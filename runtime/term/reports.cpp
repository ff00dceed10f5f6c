// Report queries: the cursor position and window size requests and the
// reading of their replies, with the keys typed meanwhile kept for the key
// decoder.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

#include "runtime/term/term.h"
#include "runtime/term/term_state.h"

namespace {

using Clock = std::chrono::steady_clock;

// A terminal that does not answer within this time is not asked again.
constexpr int kReplyTimeoutMs = 1000;
constexpr std::size_t kMaxSequence = 64;

// Parses an optionally signed decimal number, clamped so later arithmetic cannot overflow.
bool parse_number(const char*& p, const char* end, int32_t& value) {
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  if (p == end || *p < '0' || *p > '9') return false;
  int64_t n = 0;
  while (p < end && *p >= '0' && *p <= '9') n = std::min<int64_t>(n * 10 + (*p++ - '0'), 1 << 24);
  value = static_cast<int32_t>(negative ? -n : n);
  return true;
}

// Matches "ESC [ a ; b R" (cursor) or "ESC [ 8 ; a ; b t" (size).
bool match_reply(Report report, const std::string& sequence, int32_t& a, int32_t& b) {
  const char* p = sequence.data() + 2;
  const char* end = sequence.data() + sequence.size() - 1;
  const char final_byte = sequence.back();
  if (report == Report::Size) {
    if (final_byte != 't' || end - p < 2 || p[0] != '8' || p[1] != ';') return false;
    p += 2;
  } else if (final_byte != 'R') {
    return false;
  }
  return parse_number(p, end, a) && p < end && *p++ == ';' && parse_number(p, end, b) && p == end;
}

// Reads the reply to a report request. Bytes that are not the reply were typed
// meanwhile: they go to the keyboard buffer in order, so they are decoded as
// keys later (an arrow key's sequence stays an arrow key).
//
// The reply comes from the terminal the request went to: standard output,
// which set-up found to be the controlling terminal. It is read, with the
// keys, on the non-blocking "/dev/tty" descriptor, byte by byte and never
// through a stdio buffer. A blocking descriptor could hang: the suspend key
// flushes pending input, so a byte that poll announced may be gone by the read.
class ReplyReader {
 public:
  // Stops and continues are held back outside the waits, so that none can
  // slip between the check for one and the wait that follows it.
  explicit ReplyReader(Report report) : report_(report) {
    sigset_t job_control;
    sigemptyset(&job_control);
    sigaddset(&job_control, SIGTSTP);
    sigaddset(&job_control, SIGCONT);
    pthread_sigmask(SIG_BLOCK, &job_control, &wait_mask_);
  }
  ~ReplyReader() { pthread_sigmask(SIG_SETMASK, &wait_mask_, nullptr); }
  ReplyReader(const ReplyReader&) = delete;
  ReplyReader& operator=(const ReplyReader&) = delete;

  bool read(int32_t& a, int32_t& b) {
    restart_clock();
    for (;;) {
      const int byte = next_byte();
      if (byte < 0) {
        keep_as_typed(sequence_);
        if (sequence_ == "\033") keyboard_append_pause();  // the Escape key by itself
        sequence_.clear();
        return false;
      }
      if (take(static_cast<uint8_t>(byte), a, b)) return true;
    }
  }

 private:
  void restart_clock() {
    deadline_ = Clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
    continued_ = term_continue_count();
  }

  // The next byte from the terminal, or -1 when none came in time. A stop and
  // continue restarts the wait, and a wait cut by a stop does not mark the
  // terminal silent: the suspend key flushes pending input, and the reply may
  // have gone with it or to whoever read the terminal meanwhile. Asking again
  // would risk a second reply that arrives later among the typed keys.
  int next_byte() {
    for (;;) {
      if (term_continue_count() != continued_) {
        restart_clock();
        stopped_meanwhile_ = true;
        // The suspend key flushed the terminal's input: a reply begun before
        // the stop never ends, and later keys must not be glued to it.
        sequence_.clear();
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
      if (left <= 0) {
        if (!stopped_meanwhile_) screen_state.terminal_silent = true;
        return -1;
      }
      pollfd input{term_state.tty.fd, POLLIN, 0};
      const timespec wait{static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000};
      const int ready = ppoll(&input, 1, &wait, &wait_mask_);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) continue;
      // One byte at a time: whatever follows the reply stays queued on the terminal.
      uint8_t byte = 0;
      const ssize_t got = ::read(term_state.tty.fd, &byte, 1);
      if (got > 0) return byte;
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      screen_state.terminal_silent = true;  // end of input: no reply can come
      return -1;
    }
  }

  // One byte of the stream; true when it completes the awaited reply.
  bool take(uint8_t byte, int32_t& a, int32_t& b) {
    if (sequence_.empty()) {
      if (byte == 27) {
        sequence_ = "\033";
      } else {
        keep_as_typed(&byte, 1);
      }
      return false;
    }
    if (sequence_.size() == 1) {  // after ESC
      if (byte == '[') {
        sequence_.push_back('[');
        return false;
      }
      if (byte == 27) {  // the Escape key; the second ESC may begin the reply
        keep_as_typed(sequence_);
        keyboard_append_pause();
        return false;
      }
      // ESC X gives X, unless X begins one of the terminal's key sequences.
      if (key_tree_starts_sequence(byte)) keep_as_typed(sequence_);
      keep_as_typed(&byte, 1);
      sequence_.clear();
      return false;
    }
    if (byte == 27) {  // a new sequence begins: what came before was typed
      keep_as_typed(sequence_);
      sequence_ = "\033";
      return false;
    }
    sequence_.push_back(static_cast<char>(byte));
    if (byte >= 0x40 && byte <= 0x7E) {  // the final byte
      const bool answered = match_reply(report_, sequence_, a, b);
      if (!answered) keep_as_typed(sequence_);
      sequence_.clear();
      return answered;
    }
    if (byte < 0x20 || byte > 0x3F || sequence_.size() >= kMaxSequence) {
      keep_as_typed(sequence_);  // not a reply: malformed or too long
      sequence_.clear();
    }
    return false;
  }

  static void keep_as_typed(const uint8_t* bytes, std::size_t count) { keyboard_append(bytes, count); }
  static void keep_as_typed(const std::string& bytes) {
    keyboard_append(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }

  Report report_;
  sigset_t wait_mask_;  // the signal mask to wait with: the caller's
  Clock::time_point deadline_;
  unsigned continued_ = 0;
  bool stopped_meanwhile_ = false;
  std::string sequence_;  // an escape sequence being collected
};

}  // namespace

// Asks the terminal for a report; runs with the terminal mutex held.
bool term_query(Report report, int32_t* a, int32_t* b) {
  if (screen_state.terminal_silent) return false;
  if (!term_emit(report == Report::Cursor ? SEQ_CURSOR_REPORT : SEQ_SIZE_REPORT, 0, 0)) return false;
  return ReplyReader(report).read(*a, *b);
}

void term_query_cursor() {
  int32_t row = 0, column = 0;
  if (!term_query(Report::Cursor, &row, &column)) return;
  term_state.cursor_column = column;
  term_state.cursor_row = row;
}

