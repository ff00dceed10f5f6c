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

FakeTerminal::FakeTerminal(int columns, int rows) {
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

  invented_ = std::make_unique<InventedTerminal>(keyboard_read_byte);
  term.device.tty.fd = tty_;
  term.screen.resize_flag = 1;
}

FakeTerminal::~FakeTerminal() {
  stream_flush();
  dup2(saved_stdin_, STDIN_FILENO);
  dup2(saved_stdout_, STDOUT_FILENO);
  for (int fd : {saved_stdin_, saved_stdout_, tty_, slave_, master_}) close(fd);
  invented_.reset();
  term.screen.resize_flag = 0;
}

void FakeTerminal::type(std::string_view bytes) {
  (void)!write(master_, bytes.data(), bytes.size());
  tcdrain(master_);
}

std::string FakeTerminal::output() {
  stream_flush();
  return read_all_arrived(master_, 20);
}

void FakeTerminal::resize(int columns, int rows) {
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  ioctl(master_, TIOCSWINSZ, &size);
  term.screen.resize_flag = 1;
}

void FakeTerminal::redirect_stdout_to_file() {
  stream_flush();
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
