// SPDX-License-Identifier: MIT
// Signal handling while the terminal is driven: fatal signals, suspend and
// resume, and window changes.
//
// Every signal whose default action ends the process restores the terminal
// first, then ends it as that signal would. Before the terminal is handed
// back (a fatal signal, a stop), a reply still on its way is awaited and
// dropped. Handlers do only async-signal-safe work: leaving and entering the
// modes is write(), tcsetattr() and fcntl() on bytes and modes prepared at
// set-up; waiting for a reply is poll() and read(); and a byte written to
// the keyboard's pipe wakes a wait for keys, so the program can block while
// idle.
#include <unistd.h>

#include <pthread.h>

#include <cerrno>
#include <csignal>

#include "runtime/stream/stream.h"
#include "runtime/term/keyboard/keyboard.h"
#include "runtime/term/questions/reports.h"
#include "runtime/term/lifecycle/lifecycle.h"

namespace {

// Handled whatever their disposition was: a signal that was ignored restores
// the terminal and is ignored again, and the program goes on plain.
constexpr int kFatalSignals[] = {SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGTERM,
                                 SIGINT,  SIGQUIT, SIGHUP, SIGBUS};
// Every other signal whose default action ends the process: handled while
// that is still its action (one that was ignored cannot end the process).
constexpr int kOtherEndingSignals[] = {SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM,
                                       SIGPROF, SIGTRAP, SIGSYS,  SIGIO,   SIGPWR,  SIGSTKFLT};
constexpr int kJobSignals[] = {SIGWINCH, SIGTSTP, SIGCONT};

// What only the handlers and their installation keep.
struct Handlers {
  struct sigaction saved[NSIG];  // dispositions found at set-up, by signal number
  bool installed[NSIG];          // which of them set-up replaced
  volatile sig_atomic_t fatal_in_progress;
  volatile sig_atomic_t modes_left;  // restored for a stop; enter again on continue
};
Handlers handlers;

// Calls f with every signal that set-up handles.
template <typename F>
void for_each_handled(F f) {
  for (int signal : kFatalSignals) f(signal);
  for (int signal : kOtherEndingSignals) f(signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) f(signal);
  for (int signal : kJobSignals) f(signal);
}

// After a stop: take the terminal again, but only from the foreground.
void resume_modes() {
  if (!handling_active() || !handlers.modes_left) return;
  if (!term_in_foreground()) return;  // continued in the background: wait for fg
  modes_enter();
  handlers.modes_left = 0;
  line_keys_enter();
  note_size_stale();
}

// Puts the cursor at the start of a fresh row below the line being edited or
// printed, so that whatever the shell writes next stands on its own row.
void leave_line() {
  static constexpr char kFeeds[] = "\r\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n";
  int feeds = feeds_to_fresh_row();
  if (feeds <= 0) return;
  stream_write_fully(kFeeds, 1);
  for (constexpr int kMost = sizeof kFeeds - 2; feeds > 0; feeds -= kMost)
    stream_write_fully(kFeeds + 1, static_cast<std::size_t>(feeds < kMost ? feeds : kMost));
}

void on_fatal_signal(int signal) {
  const int saved_errno = errno;
  sigaction(signal, &handlers.saved[signal], nullptr);
  if (!handlers.fatal_in_progress) {
    handlers.fatal_in_progress = 1;
    if (handling_active() && !handlers.modes_left) {
      line_keys_echo_signal(signal);
      line_keys_leave();
      leave_line();
      reports_await_due_replies(/*for_the_shell=*/true);
      modes_leave();
    }
    term.device.kind = TERM_KIND_OFF;
    handlers.fatal_in_progress = 0;
  }
  // Blocked until the handler returns; then the previous disposition acts on
  // it. One that was ignored lets the program go on plain: a wait for keys
  // wakes to see that.
  raise(signal);
  keyboard_wake();
  errno = saved_errno;
}

void on_stop_signal(int signal) {
  const int saved_errno = errno;
  if (handling_active() && !handlers.modes_left) {
    line_keys_echo_signal(signal);
    line_keys_leave();
    reports_await_due_replies(/*for_the_shell=*/false);
    modes_leave();
    handlers.modes_left = 1;
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
  keyboard_wake();
  errno = saved_errno;
}

void on_continue_signal(int) {
  const int saved_errno = errno;
  note_continued();
  resume_modes();
  if (handling_active()) note_size_stale();
  keyboard_wake();
  errno = saved_errno;
}

void on_window_change(int) {
  const int saved_errno = errno;
  note_resized();
  note_size_stale();
  keyboard_wake();
  errno = saved_errno;
}

// Every handled signal is held back while a handler runs.
void install(int signal, void (*handler)(int)) {
  struct sigaction action{};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for_each_handled([&](int held) {
    if (held != SIGTSTP && held != SIGCONT) sigaddset(&action.sa_mask, held);
  });
  handlers.installed[signal] = sigaction(signal, &action, &handlers.saved[signal]) == 0;
}

bool default_action(int signal) {
  struct sigaction current{};
  return sigaction(signal, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
         current.sa_handler == SIG_DFL;
}

}  // namespace

SignalsHeld::SignalsHeld() {
  sigset_t ours;
  sigemptyset(&ours);
  for_each_handled([&](int signal) { sigaddset(&ours, signal); });
  pthread_sigmask(SIG_BLOCK, &ours, &previous_);
}

SignalsHeld::~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

void term_signals_install() {
  handlers.modes_left = 0;
  for (int signal : kFatalSignals) install(signal, on_fatal_signal);
  for (int signal : kOtherEndingSignals) {
    if (default_action(signal)) install(signal, on_fatal_signal);
  }
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
    if (default_action(signal)) install(signal, on_fatal_signal);
  }
  install(SIGWINCH, on_window_change);
  // Job control: a shell that ignores SIGTSTP for us (no job control) keeps it ignored.
  struct sigaction current{};
  sigaction(SIGTSTP, nullptr, &current);
  if (current.sa_handler != SIG_IGN) install(SIGTSTP, on_stop_signal);
  install(SIGCONT, on_continue_signal);
}

void term_signals_restore() {
  auto put_back = [](int signal) {
    if (!handlers.installed[signal]) return;
    sigaction(signal, &handlers.saved[signal], nullptr);
    handlers.installed[signal] = false;
  };
  for_each_handled(put_back);
}

bool signals_modes_left() { return handlers.modes_left != 0; }
