// SPDX-License-Identifier: MIT
// The life-cycle room: set-up and shut-down, the working modes entered and
// left, the signal handlers, and the keyboard modes of a line (bracketed
// paste, the kitty protocol). It calls every other room; none calls it.
#pragma once

#include <csignal>

#include "runtime/term/term_internal.h"

// Puts every room's state as at program start (the mutex and the signal
// dispositions aside): set-up starts from it, and the tests' invented
// terminals do.
void term_reset_state();

// --- Modes (modes.cpp) --------------------------------------------------------

// Entering and leaving the working modes, written once for set-up,
// restoration, fatal signals and suspend/resume.
//   modes_prepare: after the saved modes are read; computes the working modes
//                  and expands the bytes written on entering and leaving.
//   modes_apply:   applies the working modes; false if the terminal refuses.
//   modes_enter:   modes_apply, then the entering bytes ("\e(U" on the
//                  console, "ks"); what a resume does.
//   modes_leave:   the leaving bytes ("\e(B" on the console, "me", "ve",
//                  "ke"), then the saved modes, with SIGTTOU ignored.
//                  Async-signal-safe.
void modes_prepare();
bool modes_apply();
void modes_write_entering_bytes();
void modes_enter();
void modes_leave();

// --- Signals (signals.cpp) -----------------------------------------------------

// Holds back, while alive, every signal whose handler set-up installs: none
// can come between changing the modes and installing the handlers, or
// between restoring the modes and putting the dispositions back. One that
// came meanwhile acts when it is released.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Signal handling, installed by a successful set-up and put back at shut-down.
void term_signals_install();
void term_signals_restore();
// Whether the modes were left for a stop and not entered again yet; async-signal-safe.
bool signals_modes_left();

// --- The keys of a line (line_keys.cpp) -------------------------------------

// Bracketed paste, and the kitty protocol where the terminal has it, are on
// while a line is edited and the program holds the terminal:
//   line_keys_leave:    turns them off at the terminal (a stop, a fatal
//                       signal, the end); async-signal-safe.
//   line_keys_enter:    on again if a line is being edited (a resume);
//                       async-signal-safe.
//   line_keys_echo_signal: a signal's key ("^C") at the cursor, if it is one
//                       the keyboard raises, a line is edited and the tty
//                       echoes control characters; async-signal-safe.
// As at program start: nothing on, the inputrc's choices at their defaults.
void line_keys_reset();
void line_keys_leave();
void line_keys_enter();
void line_keys_echo_signal(int signal);
