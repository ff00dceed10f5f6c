// Signal handling while the terminal is driven: fatal signals, suspend and
// resume, and window changes.
//
// Handlers do only async-signal-safe work. The bytes and modes they need are
// prepared when the terminal is set up; leaving the modes is write(),
// tcsetattr() and fcntl(), in the order of a normal restoration.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "runtime/term/term_state.h"

namespace {

constexpr int kFatalSignals[] = {SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGTERM,
                                 SIGINT,  SIGQUIT, SIGHUP, SIGBUS};
constexpr std::size_t kPreparedBytes = 1024;

struct PreparedBytes {
  char bytes[kPreparedBytes];
  std::size_t length;
};

struct SignalState {
  PreparedBytes leave;                 // "\e(B" on the console, then "me", "ve", "ke"
  PreparedBytes enter;                 // "\e(U" on the console, then "ks"
  termios working_output_modes;        // the modes set-up applied, for resuming
  termios working_input_modes;
  struct sigaction saved[NSIG];        // dispositions found at set-up, by signal number
  volatile sig_atomic_t fatal_in_progress;
  volatile sig_atomic_t modes_left;    // restored for a stop; enter again on continue
  volatile sig_atomic_t continued;     // counts SIGCONTs, so a waiting query can ask again
};
constinit SignalState signal_state{};

PreparedBytes* preparing = nullptr;
int append_prepared(int c) {
  if (preparing->length < kPreparedBytes) preparing->bytes[preparing->length++] = static_cast<char>(c);
  return c;
}

void prepare(PreparedBytes& target, const char* fixed, int32_t capabilities[], int count) {
  target.length = 0;
  preparing = &target;
  if (term_state.kind == TERM_KIND_LINUX_CONSOLE) {
    for (const char* c = fixed; *c != '\0'; ++c) append_prepared(*c);
  }
  for (int i = 0; i < count; ++i) expand_capability(capabilities[i], 0, 0, append_prepared);
  preparing = nullptr;
}

void write_all(const PreparedBytes& prepared) {
  std::size_t done = 0;
  while (done < prepared.length) {
    const ssize_t put = write(STDOUT_FILENO, prepared.bytes + done, prepared.length - done);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
    } else if (put < 0 && errno != EINTR) {
      return;
    }
  }
}

// The restoration of term_restore, async-signal-safe.
void leave_modes() {
  struct sigaction ignore{};
  struct sigaction previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGTTOU, &ignore, &previous);
  write_all(signal_state.leave);
  tcsetattr(STDOUT_FILENO, TCSANOW, &term_state.saved_output_modes);
  fcntl(term_state.tty_fd, F_SETFL, term_state.saved_status_flags);
  tcsetattr(term_state.tty_fd, TCSANOW, &term_state.saved_input_modes);
  sigaction(SIGTTOU, &previous, nullptr);
}

void enter_modes() {
  tcsetattr(STDOUT_FILENO, TCSANOW, &signal_state.working_output_modes);
  tcsetattr(term_state.tty_fd, TCSANOW, &signal_state.working_input_modes);
  fcntl(term_state.tty_fd, F_SETFL, term_state.saved_status_flags | O_NONBLOCK);
  write_all(signal_state.enter);
}

// After a stop: take the terminal again, but only from the foreground.
void resume_modes() {
  if (term_state.kind == TERM_KIND_OFF || !signal_state.modes_left) return;
  if (tcgetpgrp(STDOUT_FILENO) != getpgrp()) return;  // continued in the background: wait for fg
  enter_modes();
  signal_state.modes_left = 0;
  term_resize_flag = 1;
}

void on_fatal_signal(int signal) {
  const int saved_errno = errno;
  sigaction(signal, &signal_state.saved[signal], nullptr);
  if (!signal_state.fatal_in_progress) {
    signal_state.fatal_in_progress = 1;
    if (term_state.kind != TERM_KIND_OFF && !signal_state.modes_left) leave_modes();
    term_state.kind = TERM_KIND_OFF;
    signal_state.fatal_in_progress = 0;
  }
  // Blocked until the handler returns; then the previous disposition acts on it.
  raise(signal);
  errno = saved_errno;
}

void on_stop_signal(int) {
  const int saved_errno = errno;
  if (term_state.kind != TERM_KIND_OFF && !signal_state.modes_left) {
    leave_modes();
    signal_state.modes_left = 1;
  }
  struct sigaction stop{};
  stop.sa_handler = SIG_DFL;
  struct sigaction ours{};
  sigaction(SIGTSTP, &stop, &ours);
  sigset_t tstp;
  sigemptyset(&tstp);
  sigaddset(&tstp, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &tstp, nullptr);
  raise(SIGTSTP);  // stops here; an orphaned process group discards it and goes on
  sigaction(SIGTSTP, &ours, nullptr);
  resume_modes();
  errno = saved_errno;
}

void on_continue_signal(int) {
  const int saved_errno = errno;
  signal_state.continued = signal_state.continued + 1;
  resume_modes();
  if (term_state.kind != TERM_KIND_OFF) term_resize_flag = 1;
  errno = saved_errno;
}

void on_window_change(int) { term_resize_flag = 1; }

void install(int signal, void (*handler)(int), struct sigaction* previous) {
  struct sigaction action{};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int fatal : kFatalSignals) sigaddset(&action.sa_mask, fatal);
  sigaddset(&action.sa_mask, SIGWINCH);
  sigaction(signal, &action, previous);
}

}  // namespace

void term_signals_prepare() {
  int32_t leave[] = {CAP_ATTRS_OFF, CAP_CURSOR_NORMAL, CAP_KEYPAD_OFF};
  int32_t enter[] = {CAP_KEYPAD_ON};
  prepare(signal_state.leave, "\033(B", leave, 3);
  prepare(signal_state.enter, "\033(U", enter, 1);
  tcgetattr(STDOUT_FILENO, &signal_state.working_output_modes);
  tcgetattr(term_state.tty_fd, &signal_state.working_input_modes);
  signal_state.modes_left = 0;
}

void term_signals_install() {
  for (int signal : kFatalSignals) install(signal, on_fatal_signal, &signal_state.saved[signal]);
  install(SIGWINCH, on_window_change, nullptr);
  // Job control: a shell that ignores SIGTSTP for us (no job control) keeps it ignored.
  struct sigaction current{};
  sigaction(SIGTSTP, nullptr, &current);
  if (current.sa_handler != SIG_IGN) install(SIGTSTP, on_stop_signal, nullptr);
  install(SIGCONT, on_continue_signal, nullptr);
}

unsigned term_continue_count() { return static_cast<unsigned>(signal_state.continued); }
