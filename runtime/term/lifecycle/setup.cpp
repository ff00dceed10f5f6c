// SPDX-License-Identifier: MIT
// Terminal set-up and restoration: every room reset, the terminal taken and given back.
#include <fcntl.h>
#include <pthread.h>
#include <termcap.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/stream/stream.h"
#include "runtime/term/keyboard/keyboard.h"
#include "runtime/term/lifecycle/lifecycle.h"
#include "runtime/term/questions/reports.h"
#include "runtime/term/screen/tracked_screen.h"
#include "runtime/term/screen/window.h"

namespace {

// termcap wants a buffer of at least 2048 bytes for the entry.
constexpr std::size_t kEntryBufferSize = 4096;

// Output reaches a driven terminal at once, except while the process is in
// the background: then it waits for the foreground. Not driven, output
// reaches a terminal at once and collects for a file or pipe.
bool output_watched() {
  if (handling_active()) return term.device.output_held == 0 && term_in_foreground();
  return term.device.output_is_terminal;
}

// Entering the modes step by step: if a step fails, what the earlier ones
// changed is put back and the tty stream is closed.
class ModeEntry {
 public:
  ~ModeEntry() {
    if (committed_) return;
    if (applying_modes_) {
      tcsetattr(STDOUT_FILENO, TCSANOW, &term.device.saved_output_modes);
      tcsetattr(term.device.tty.fd, TCSANOW, &term.device.saved_input_modes);
    }
    term.device.tty.close();
  }
  void applying_modes() { applying_modes_ = true; }
  void commit() { committed_ = true; }

 private:
  bool applying_modes_ = false;
  bool committed_ = false;
};

// Enters the modes and installs what handles signals and keys; false (and
// handling off) if the terminal refuses.
bool take_terminal() {
  SignalsHeld held;  // until the handlers are in place
  if (term_enter_modes() != 0) {
    term.device.kind = TERM_KIND_OFF;
    return false;
  }
  term.device.key_reader = keyboard_read_byte;
  tracked_reset();
  note_size_stale();
  keyboard_open_wake_pipe();
  term_signals_install();
  return true;
}

// Whether the process is in the terminal's foreground process group; false
// also when that cannot be told (no controlling terminal).
bool foreground_now() {
  const pid_t foreground = tcgetpgrp(STDOUT_FILENO);
  return foreground >= 0 && foreground == getpgid(0);
}

}  // namespace

void term_reset_state() {
  term.device = Device{};
  term.device.tty.fd = -1;
  term.device.cursor_shown = true;
  term.modes = Modes{};
  term.signals = SignalNotes{};
  term.encoding = Encoding::Unknown;
  screen_reset();
  keyboard_reset();
  reports_reset();
  line_keys_reset();
  keyboard_set_reply_listener(reports_receive);  // the keyboard's replies go to the questions
}

void term_init() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&term.mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
  // Every room starts cleared: handling off, no window read yet, no shadow screen, no keys.
  term_reset_state();
  // Whether each standard stream is a terminal: decided here, once.
  const bool output_is_terminal = isatty(STDOUT_FILENO);
  term.device.output_is_terminal = output_is_terminal;
  term.device.input_is_terminal = isatty(STDIN_FILENO);
  stream_init(output_is_terminal);
  stream_set_watcher(output_watched);

  const char* name = std::getenv("TERM");
  if (name == nullptr) return;
  // Handling needs both ends to be terminals (term_enter_modes checks it again);
  // with either redirected the terminal database is not worth loading.
  if (!term.device.input_is_terminal || !output_is_terminal) return;
  static char entry[kEntryBufferSize];
  if (tgetent(entry, name) <= 0) return;
  UP = nullptr;
  BC = nullptr;
  const char* pad = tgetstr("pc", nullptr);
  PC = pad != nullptr ? pad[0] : '\0';
  termios output_modes;
  if (tcgetattr(STDOUT_FILENO, &output_modes) != 0) return;
  ospeed = static_cast<short>(cfgetospeed(&output_modes));
  if (tgetflag("am") == 0) return;  // the writer relies on automatic margins
  fetch_capabilities();
  term.device.late_wrap = tgetflag("xn") != 0;
  // An entry that cannot address the cursor (TERM=dumb) is left to the terminal's own line editing.
  if (term.device.capabilities[CAP_CURSOR_MOTION] == nullptr) return;
  keyboard_read_escape_delay();
  // xterm's Alt outside UTF-8 sets the high bit of the key's byte ("km": the entry has a meta key).
  term.device.meta_key = tgetflag("km") != 0;
  const int32_t kind = terminal_kind_for(name);
  // Started in the background: the terminal is taken when the program first
  // comes to the foreground (term_take_over); nothing is asked before.
  if (!foreground_now()) {
    if (tcgetpgrp(STDOUT_FILENO) >= 0) term.device.waiting_kind = kind;
    return;
  }
  term.device.kind = kind;
  take_terminal();
}

TakeOver term_take_over() {
  const int32_t kind = term.device.waiting_kind;
  if (kind == TERM_KIND_OFF) return TakeOver::No;
  const bool was_background = !foreground_now();
  // Reading the terminal from the background stops the process (SIGTTIN)
  // until it is brought to the foreground; a key typed by then is kept.
  const int fd = open("/dev/tty", O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return TakeOver::No;
  uint8_t first = 0;
  ssize_t got;
  do {
    got = read(fd, &first, 1);
  } while (got < 0 && errno == EINTR);
  close(fd);
  // SIGTTIN ignored, or an orphaned process group: left to the terminal's own mode, which fails the same way.
  if (!foreground_now()) return TakeOver::No;
  term.device.waiting_kind = TERM_KIND_OFF;
  term.device.kind = kind;
  if (!take_terminal()) return TakeOver::No;
  if (got == 1) keyboard_put_back(first);
  return was_background ? TakeOver::AfterStop : TakeOver::InPlace;
}

int32_t term_enter_modes() {
  if (!handling_active() || !term.device.output_is_terminal || !term.device.input_is_terminal) return -1;
  ModeEntry entry;
  if (!term.device.tty.open()) return -1;
  if (tcgetpgrp(STDOUT_FILENO) != getpgid(0)) return -1;  // a background job leaves the terminal alone
  // Both sets of modes are read before either is changed: standard output and
  // the tty are usually the same device, and restoring must give back what was found.
  if (tcgetattr(STDOUT_FILENO, &term.device.saved_output_modes) != 0) return -1;
  if (tcgetattr(term.device.tty.fd, &term.device.saved_input_modes) != 0) return -1;
  term.device.saved_status_flags = fcntl(term.device.tty.fd, F_GETFL);
  modes_prepare();
  entry.applying_modes();
  if (!modes_apply()) return -1;
  entry.commit();
  modes_write_entering_bytes();
  return 0;
}

void term_restore() {
  stream_flush();  // everything printed goes before the leaving bytes
  line_keys_leave();
  keyboard_take_what_was_read();
  reports_keep_untaken_keys_for_the_shell();  // typed after the last answer: the shell's
  reports_await_due_replies(/*for_the_shell=*/true);
  modes_leave();
  term.device.tty.close();
}

void term_shutdown() {
  SignalsHeld held;  // until the dispositions are back: a signal meanwhile acts on a restored terminal
  stream_flush_at_exit();
  if (handling_active()) term_restore();
  term_signals_restore();
  term.device.kind = TERM_KIND_OFF;
  // A fatal signal that was ignored may have restored the modes already; the stream is still open.
  term.device.tty.close();
  keyboard_close_wake_pipe();
  pthread_mutex_destroy(&term.mutex);
  term_tracked.shadow.clear();
}

