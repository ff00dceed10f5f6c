// SPDX-License-Identifier: MIT
// Signal handling while the terminal is driven: fatal signals, suspend and
// resume, and window changes.
//
// Handlers do only async-signal-safe work: leaving and entering the modes is
// write(), tcsetattr() and fcntl() on bytes and modes prepared at set-up.
#include <unistd.h>

#include <pthread.h>

#include <cerrno>
#include <csignal>

#include "runtime/term/term_internal.h"
#include "runtime/stream/stream.h"

namespace {

constexpr int kFatalSignals[] = {SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGTERM,
                                 SIGINT,  SIGQUIT, SIGHUP, SIGBUS};
constexpr int kJobSignals[] = {SIGWINCH, SIGTSTP, SIGCONT};

// After a stop: take the terminal again, but only from the foreground.
void resume_modes() {
  if (term.device.kind == TERM_KIND_OFF || !term.signals.modes_left) return;
  if (!term_in_foreground()) return;  // continued in the background: wait for fg
  modes_enter();
  term.signals.modes_left = 0;
  term.screen.resize_flag = 1;
}

// Puts the cursor at the start of a fresh row below the line being edited or
// printed, so that whatever the shell writes next stands on its own row.
void leave_line() {
  static constexpr char kFeeds[] = "\r\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n";
  int feeds = term.signals.feeds_to_fresh_row;
  if (feeds <= 0) return;
  stream_write_fully(kFeeds, 1);
  for (constexpr int kMost = sizeof kFeeds - 2; feeds > 0; feeds -= kMost)
    stream_write_fully(kFeeds + 1, static_cast<std::size_t>(feeds < kMost ? feeds : kMost));
}

void on_fatal_signal(int signal) {
  const int saved_errno = errno;
  sigaction(signal, &term.signals.saved[signal], nullptr);
  if (!term.signals.fatal_in_progress) {
    term.signals.fatal_in_progress = 1;
    if (term.device.kind != TERM_KIND_OFF && !term.signals.modes_left) {
      leave_line();
      modes_leave();
    }
    term.device.kind = TERM_KIND_OFF;
    term.signals.fatal_in_progress = 0;
  }
  // Blocked until the handler returns; then the previous disposition acts on it.
  raise(signal);
  errno = saved_errno;
}

void on_stop_signal(int) {
  const int saved_errno = errno;
  if (term.device.kind != TERM_KIND_OFF && !term.signals.modes_left) {
    modes_leave();
    term.signals.modes_left = 1;
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
  term.signals.continued = term.signals.continued + 1;
  resume_modes();
  if (term.device.kind != TERM_KIND_OFF) term.screen.resize_flag = 1;
  errno = saved_errno;
}

void on_window_change(int) {
  term.signals.resized = term.signals.resized + 1;
  term.screen.resize_flag = 1;
}

void install(int signal, void (*handler)(int)) {
  struct sigaction action{};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int fatal : kFatalSignals) sigaddset(&action.sa_mask, fatal);
  sigaddset(&action.sa_mask, SIGWINCH);
  term.signals.installed[signal] = sigaction(signal, &action, &term.signals.saved[signal]) == 0;
}

}  // namespace

SignalsHeld::SignalsHeld() {
  sigset_t ours;
  sigemptyset(&ours);
  for (int signal : kFatalSignals) sigaddset(&ours, signal);
  for (int signal : kJobSignals) sigaddset(&ours, signal);
  pthread_sigmask(SIG_BLOCK, &ours, &previous_);
}

SignalsHeld::~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

void term_signals_install() {
  term.signals.modes_left = 0;
  for (int signal : kFatalSignals) install(signal, on_fatal_signal);
  install(SIGWINCH, on_window_change);
  // Job control: a shell that ignores SIGTSTP for us (no job control) keeps it ignored.
  struct sigaction current{};
  sigaction(SIGTSTP, nullptr, &current);
  if (current.sa_handler != SIG_IGN) install(SIGTSTP, on_stop_signal);
  install(SIGCONT, on_continue_signal);
}

void term_signals_restore() {
  auto put_back = [](int signal) {
    if (!term.signals.installed[signal]) return;
    sigaction(signal, &term.signals.saved[signal], nullptr);
    term.signals.installed[signal] = false;
  };
  for (int signal : kFatalSignals) put_back(signal);
  for (int signal : kJobSignals) put_back(signal);
}

unsigned term_continue_count() { return static_cast<unsigned>(term.signals.continued); }
unsigned term_resize_count() { return static_cast<unsigned>(term.signals.resized); }

void term_set_feeds_to_fresh_row(int feeds) { term.signals.feeds_to_fresh_row = feeds; }
