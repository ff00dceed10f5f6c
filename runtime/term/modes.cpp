// SPDX-License-Identifier: MIT
// Entering and leaving the working modes. Set-up, restoration, the fatal-signal
// handler and suspend/resume all go through the steps here, so the terminal
// is always left, and taken again, the same way.
//
// The bytes written on leaving are expanded when the modes are first
// prepared, so that a signal handler can write them with write() alone.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "runtime/term/term_state.h"

namespace {

constexpr std::size_t kPreparedBytes = 1024;

struct PreparedBytes {
  char bytes[kPreparedBytes];
  std::size_t length;
};

struct ModeState {
  PreparedBytes leaving;           // "\e(B" on the console, then "me", "ve", "ke"
  PreparedBytes entering;          // "\e(U" on the console, then "ks"
  termios working_output_modes;    // standard output: as found, with OPOST
  termios working_input_modes;     // the tty: no echo, no canonical input, no flow control
};
constinit ModeState mode_state{};

PreparedBytes* preparing = nullptr;
int append_prepared(int c) {
  if (preparing->length < kPreparedBytes) preparing->bytes[preparing->length++] = static_cast<char>(c);
  return c;
}

// The Linux console's character-set sequence (kind 1 only), then the capabilities.
void prepare(PreparedBytes& target, int32_t console_sequence, std::initializer_list<int32_t> capabilities) {
  target.length = 0;
  preparing = &target;
  if (term_state.kind == TERM_KIND_LINUX_CONSOLE) {
    for (const char* c = fixed_sequence(console_sequence); *c != '\0'; ++c) append_prepared(*c);
  }
  for (int32_t capability : capabilities) expand_capability(capability, 0, 0, append_prepared);
  preparing = nullptr;
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
  mode_state.working_output_modes = term_state.saved_output_modes;
  mode_state.working_output_modes.c_oflag |= OPOST;
  mode_state.working_input_modes = working_input_modes(term_state.saved_input_modes);
  prepare(mode_state.leaving, SEQ_FONT_DEFAULT, {CAP_ATTRS_OFF, CAP_CURSOR_NORMAL, CAP_KEYPAD_OFF});
  prepare(mode_state.entering, SEQ_FONT_DIRECT, {CAP_KEYPAD_ON});
}

bool modes_apply() {
  if (tcsetattr(STDOUT_FILENO, TCSANOW, &mode_state.working_output_modes) != 0) return false;
  if (tcsetattr(term_state.tty.fd, TCSANOW, &mode_state.working_input_modes) != 0) return false;
  // Keys are read without waiting; the result is not checked, as at every step of this kind.
  fcntl(term_state.tty.fd, F_SETFL, term_state.saved_status_flags | O_NONBLOCK);
  return true;
}

void modes_write_entering_bytes() { term_write_fully(mode_state.entering.bytes, mode_state.entering.length); }

void modes_enter() {
  modes_apply();
  modes_write_entering_bytes();
}

void modes_leave() {
  struct sigaction ignore{};
  struct sigaction previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGTTOU, &ignore, &previous);  // a background process may still restore its modes
  term_write_fully(mode_state.leaving.bytes, mode_state.leaving.length);
  // Each step is attempted whatever the others did.
  tcsetattr(STDOUT_FILENO, TCSANOW, &term_state.saved_output_modes);
  fcntl(term_state.tty.fd, F_SETFL, term_state.saved_status_flags);
  tcsetattr(term_state.tty.fd, TCSANOW, &term_state.saved_input_modes);
  sigaction(SIGTTOU, &previous, nullptr);
}
