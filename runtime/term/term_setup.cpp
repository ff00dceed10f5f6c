// SPDX-License-Identifier: MIT
// Terminal set-up and restoration, the capability emitter and the terminal mutex.
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
#include "runtime/term/keyboard.h"
#include "runtime/term/reports.h"
#include "runtime/term/screen_internal.h"
#include "runtime/term/term_internal.h"
#include "runtime/term/tracked_screen.h"

Terminal term;

namespace {

// The capability table, in emitter index order.
constexpr const char* kCapabilityNames[CAP_COUNT] = {
    "cm", "ho", "cs", "cl", "ce", "WS", "bl", "AF", "AB",
    "me", "md", "SF", "ve", "vi", "dc", "ks", "ke"};

// The cursor steps, in Motion order.
constexpr const char* kMotionNames[MOTION_COUNT] = {"up", "UP", "nd", "RI", "le", "LE", "cd"};

constexpr const char* kFixedSequences[] = {
    "\033(U",                    // 100 Linux console: direct font mapping
    "\033(B",                    // 101 default mapping
    "\033[6n",                   // 102 cursor position report request
    "\033[18t",                  // 103 text area size report request
    "\033[?1000h\033[?1003h",    // 104 mouse reporting on
    "\033[?1003l\033[?1000l",    // 105 mouse reporting off
    "\033[H\033[J\033[0m",       // 106 home, clear, attributes reset
};

// termcap wants a buffer of at least 2048 bytes for the entry.
constexpr std::size_t kEntryBufferSize = 4096;

// Output reaches a driven terminal at once, except while the process is in
// the background: then it waits for the foreground. Not driven, output
// reaches a terminal at once and collects for a file or pipe.
bool output_watched() {
  if (handling_active()) return term.device.output_held == 0 && term_in_foreground();
  return term.device.output_is_terminal;
}

// tputs hands over one byte at a time, with no place to say where it goes.
int put_output(int c) {
  const auto byte = static_cast<uint8_t>(c);
  stream_output(&byte, 1);
  return c;
}
int put_expanding(int c) {
  term.device.expanding->push_back(static_cast<char>(c));
  return c;
}

// Writes a termcap string's expansion through put; false if the entry lacks it.
bool expand(const char* capability, int32_t a, int32_t b, int (*put)(int)) {
  if (capability == nullptr) return false;
  // Every capability goes through tgoto, parameterless ones with a = b = 0.
  char* expansion = tgoto(capability, a, b);
  if (expansion == nullptr) return false;
  tputs(expansion, 1, put);
  return true;
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

void fetch_capabilities() {
  for (int i = 0; i < CAP_COUNT; ++i) term.device.capabilities[i] = tgetstr(kCapabilityNames[i], nullptr);
  for (int i = 0; i < MOTION_COUNT; ++i) term.device.motions[i] = tgetstr(kMotionNames[i], nullptr);
}

// ESCDELAY, in milliseconds as ncurses reads it: how long a lone ESC waits for
// the rest of a sequence before it is the Escape key.
void read_escape_delay() {
  const char* text = std::getenv("ESCDELAY");
  if (text == nullptr || *text == '\0') return;
  long value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return;  // not a number: the default stays
    value = std::min(value * 10 + (*c - '0'), 10000L);
  }
  KeyDecoder::Timing timing = term_keyboard.decoder.timing();
  timing.escape_delay_ms = static_cast<int>(value);
  term_keyboard.decoder.set_timing(timing);
}

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
  term.signals.resize_pending = 1;
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

int32_t terminal_kind_for(const char* name) {
  if (std::strcmp(name, "console") == 0 || std::strncmp(name, "linux", 5) == 0) return TERM_KIND_LINUX_CONSOLE;
  return TERM_KIND_OTHER;
}

bool TtyStream::open() {
  stream = std::fopen("/dev/tty", "r+be");
  fd = stream != nullptr ? fileno(stream) : -1;
  return stream != nullptr;
}

void TtyStream::close() {
  if (stream != nullptr) std::fclose(stream);
  stream = nullptr;
  fd = -1;
}

void term_init() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&term.mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
  // The terminal record starts cleared: handling off, no window read yet, no shadow screen.
  term.device = Device{};
  term.device.tty.fd = -1;
  term.device.cursor_shown = true;
  term_window.window_columns = term_window.window_rows = 0;
  term_tracked.shadow.clear();
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
  read_escape_delay();
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

int32_t term_kind() { return term.device.kind; }
bool term_handling_active() { return handling_active(); }
bool term_input_is_terminal() { return term.device.input_is_terminal; }
bool term_output_is_terminal() { return term.device.output_is_terminal; }

// Only tcgetpgrp() and getpgrp(): the continue handler asks it too.
bool term_in_foreground() {
  if (term.device.tty.fd < 0) return true;
  const pid_t foreground = tcgetpgrp(term.device.tty.fd);
  return foreground < 0 || foreground == getpgrp();
}

bool expand_capability(int32_t index, int32_t a, int32_t b, int (*put)(int)) {
  if (index < 0 || index >= CAP_COUNT) return false;
  return expand(term.device.capabilities[index], a, b, put);
}

bool expand_into(std::string& out, const char* capability, int32_t a, int32_t b) {
  term.device.expanding = &out;
  const bool expanded = expand(capability, a, b, put_expanding);
  term.device.expanding = nullptr;
  return expanded;
}

const char* fixed_sequence(int32_t index) {
  if (index < SEQ_FONT_DIRECT || index > SEQ_CLEAR_HOME) return "";
  return kFixedSequences[index - SEQ_FONT_DIRECT];
}

bool term_emit(int32_t index, int32_t a, int32_t b) {
  if (!handling_active()) return false;
  if (index >= 0 && index < CAP_COUNT) {
    if (!expand_capability(index, a, b, put_output)) return false;
    stream_output_done();
    return true;
  }
  if (index >= SEQ_FONT_DIRECT && index <= SEQ_CLEAR_HOME) {
    const char* sequence = fixed_sequence(index);
    stream_output(sequence, std::strlen(sequence));
    stream_output_done();
    return !stream_output_failed();
  }
  if (index == SEQ_RENDITION) {
    char sequence[24];
    const int length = std::snprintf(sequence, sizeof sequence, "\033[%dm", a);
    if (length <= 3) return false;
    stream_output(sequence, static_cast<std::size_t>(length));
    stream_output_done();
    return true;
  }
  return false;
}

bool term_flash() {
  if (!handling_active()) return false;
  char name[] = "vb";
  const char* flash = tgetstr(name, nullptr);
  if (flash == nullptr || flash[0] == '\0') return false;
  tputs(flash, 1, put_output);
  stream_output_done();
  return true;
}

void term_set_escape_delay(int milliseconds) {
  KeyDecoder::Timing timing = term_keyboard.decoder.timing();
  timing.escape_delay_ms = std::clamp(milliseconds, 0, 10000);
  term_keyboard.decoder.set_timing(timing);
}

void term_lock() { pthread_mutex_lock(&term.mutex); }
void term_unlock() { pthread_mutex_unlock(&term.mutex); }
