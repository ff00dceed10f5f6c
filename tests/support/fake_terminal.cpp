// SPDX-License-Identifier: MIT
#include "tests/support/fake_terminal.h"

#include "tests/support/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include "runtime/stream/stream.h"
#include "runtime/term/keyboard/keyboard.h"

namespace {
FakeTerminal* current = nullptr;  // the one whose key reader is in use
}  // namespace

FakeTerminal::FakeTerminal(int columns, int rows) {
  current = this;
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  openpty(&master_, &slave_, nullptr, nullptr, &size);
  termios raw{};
  tcgetattr(slave_, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave_, TCSANOW, &raw);
  stream_flush();
  saved_stdin_ = dup(STDIN_FILENO);
  saved_stdout_ = dup(STDOUT_FILENO);
  dup2(slave_, STDIN_FILENO);
  dup2(slave_, STDOUT_FILENO);
  tty_ = open(ptsname(master_), O_RDWR | O_NONBLOCK | O_NOCTTY);

  invented_ = std::make_unique<InventedTerminal>(reader);
  term.device.tty.fd = tty_;
  note_size_stale();
}

FakeTerminal::~FakeTerminal() {
  stream_flush();
  dup2(saved_stdin_, STDIN_FILENO);
  dup2(saved_stdout_, STDOUT_FILENO);
  for (int fd : {saved_stdin_, saved_stdout_, tty_, slave_, master_}) close(fd);
  invented_.reset();
  take_size_stale();
  current = nullptr;
}

int FakeTerminal::reader() {
  if (current != nullptr) current->answer_requests();
  return keyboard_read_byte();
}

void FakeTerminal::answer(std::string bytes) { answers_.push_back(std::move(bytes)); }

void FakeTerminal::answer_requests() {
  stream_flush();
  while (read_arrived(master_, written_, 0)) {
  }
  static constexpr std::string_view kRequests[] = {"\033[6n", "\033[18t"};
  for (;;) {
    std::size_t found = std::string::npos, length = 0;
    for (std::string_view request : kRequests) {
      const std::size_t at = written_.find(request, scanned_);
      if (at < found) {
        found = at;
        length = request.size();
      }
    }
    // With output redirected the request is not seen: the answer comes while the query waits.
    if (found == std::string::npos && !(redirected_ && term_keyboard.past_line_ends)) return;
    if (found != std::string::npos) scanned_ = found + length;
    if (answers_.empty()) {
      if (found == std::string::npos) return;
      continue;
    }
    type(answers_.front());
    answers_.pop_front();
    if (found == std::string::npos) return;
  }
}

void FakeTerminal::type(std::string_view bytes) {
  (void)!write(master_, bytes.data(), bytes.size());
  tcdrain(master_);
}

std::string FakeTerminal::output() {
  stream_flush();
  std::string text = std::move(written_) + read_all_arrived(master_, 20);
  written_.clear();
  scanned_ = 0;
  return text;
}

void FakeTerminal::resize(int columns, int rows) {
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  ioctl(master_, TIOCSWINSZ, &size);
  note_size_stale();
}

void FakeTerminal::redirect_stdout_to_file() {
  stream_flush();
  redirected_ = true;
  std::FILE* file = std::tmpfile();
  dup2(fileno(file), STDOUT_FILENO);
  std::fclose(file);
}

std::string queued_keys() {
  std::string keys;
  for (int waits = 0; waits < 10;) {
    const std::string key = next_key_string();
    keys += key;
    if (!key.empty()) continue;
    if (!keyboard_has_pending()) break;
    term_wait_for_key(20);  // a lone Escape is decided once its wait is over; a longer sequence stays
    ++waits;
  }
  return keys;
}
