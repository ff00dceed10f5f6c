// SPDX-License-Identifier: MIT
// Entering and leaving the working modes. Set-up, restoration, the fatal-signal
// handler and suspend/resume all go through the steps here, so the terminal
// is always left, and taken again, the same way.
//
// The bytes written on leaving are expanded when the modes are first
// prepared, so that a signal handler can write them with write() alone.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>

#include "runtime/stream/stream.h"
#include "runtime/term/lifecycle/lifecycle.h"

namespace {

// The Linux console's character-set sequence (kind 1 only), then the capabilities.
std::string prepare(int32_t console_sequence, std::initializer_list<int32_t> capabilities) {
  std::string bytes;
  if (term.device.kind == TERM_KIND_LINUX_CONSOLE) bytes = fixed_sequence(console_sequence);
  for (int32_t capability : capabilities) expand_into(bytes, term.device.capabilities[capability]);
  return bytes;
}

termios working_input_modes(termios modes) {
  modes.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | IXON | IXOFF);
  modes.c_iflag |= BRKINT;
  modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);  // ISIG stays: Ctrl+C still interrupts
  modes.c_cc[VMIN] = 1;
  modes.c_cc[VTIME] = 0;
  return modes;
}

}  // namespace

void modes_prepare() {
  term.modes.working_output_modes = term.device.saved_output_modes;
  term.modes.working_output_modes.c_oflag |= OPOST;
  term.modes.working_input_modes = working_input_modes(term.device.saved_input_modes);
  term.modes.leaving = prepare(SEQ_FONT_DEFAULT, {CAP_ATTRS_OFF, CAP_CURSOR_NORMAL, CAP_KEYPAD_OFF});
  term.modes.entering = prepare(SEQ_FONT_DIRECT, {CAP_KEYPAD_ON});
  term.modes.entering_no_keypad = prepare(SEQ_FONT_DIRECT, {});
}

bool modes_apply() {
  if (tcsetattr(STDOUT_FILENO, TCSANOW, &term.modes.working_output_modes) != 0) return false;
  if (tcsetattr(term.device.tty.fd, TCSANOW, &term.modes.working_input_modes) != 0) return false;
  // Keys are read without waiting; the result is not checked, as at every step of this kind.
  fcntl(term.device.tty.fd, F_SETFL, term.device.saved_status_flags | O_NONBLOCK);
  return true;
}

void modes_write_entering_bytes() {
  const std::string& bytes = term.modes.keypad ? term.modes.entering : term.modes.entering_no_keypad;
  stream_write_fully(bytes.data(), bytes.size());
}

void modes_enter() {
  modes_apply();
  modes_write_entering_bytes();
}

void modes_leave() {
  struct sigaction ignore{};
  struct sigaction previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGTTOU, &ignore, &previous);  // a background process may still restore its modes
  stream_write_fully(term.modes.leaving.data(), term.modes.leaving.size());
  // Each step is attempted whatever the others did.
  tcsetattr(STDOUT_FILENO, TCSANOW, &term.device.saved_output_modes);
  fcntl(term.device.tty.fd, F_SETFL, term.device.saved_status_flags);
  tcsetattr(term.device.tty.fd, TCSANOW, &term.device.saved_input_modes);
  sigaction(SIGTTOU, &previous, nullptr);
}
