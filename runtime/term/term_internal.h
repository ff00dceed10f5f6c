// SPDX-License-Identifier: MIT
// What only the terminal layer's own files share, and tests: the one global
// record the signal handlers need, `term` (defined in term_setup.cpp), plain
// data: the device set-up found, the working modes and the bytes of entering
// and leaving them, and what the handlers note. The layer's other state is
// owned by its files, each behind its own internal header:
//   screen_internal.h  screen.cpp          the window, and the size refresh
//   tracked_screen.h   tracked_screen.cpp  the writer's cursor and shadow screen (the run-time's contract)
//   keyboard.h         keys.cpp, keyboard.cpp  the key queue, the sequence tree, the bytes not yet keys
//   reports.h          reports.cpp, report_tracker.cpp  cursor and size requests and their answers
#pragma once

#include <pthread.h>
#include <termios.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

#include "runtime/term/term.h"
#include "runtime/term/term_contract.h"

// --- Device: set-up and the terminal entry (term_setup.cpp) -----------------

using KeyReader = int (*)();

// "/dev/tty" opened "r+b": the one owner of the stream. Closing is
// idempotent, so whichever of a failed set-up, restoration or shut-down
// comes first gives it back.
struct TtyStream {
  std::FILE* stream;  // nullptr when closed
  int fd;             // its descriptor; -1 when closed

  bool open();
  void close();
};

// Cursor steps beyond the emitter's table, for moving relative to where the
// cursor is, and clearing below it.
enum Motion : int32_t {
  MOTION_UP = 0,       // "up"
  MOTION_UP_BY,        // "UP", a count
  MOTION_RIGHT,        // "nd"
  MOTION_RIGHT_BY,     // "RI", a count
  MOTION_LEFT,         // "le"
  MOTION_LEFT_BY,      // "LE", a count
  MOTION_CLEAR_BELOW,  // "cd"
  MOTION_COUNT,
};

struct Device {
  volatile sig_atomic_t kind;            // 0 handling off, 1 Linux console, 2 any other terminal; a fatal signal clears it
  TtyStream tty;                         // the keyboard side, non-blocking while driven
  termios saved_output_modes;            // standard output's modes as found
  termios saved_input_modes;             // the tty's modes as found
  int saved_status_flags;                // the tty descriptor's file-status flags as found
  const char* capabilities[CAP_COUNT];   // termcap strings, owned by the library; nullptr if absent
  const char* motions[MOTION_COUNT];     // the same for the cursor steps
  bool late_wrap;                        // "xn": a character in the last column leaves the cursor there, wrap pending
  bool meta_key;                         // "km": outside UTF-8, Alt sets the high bit of the key's byte
  int32_t waiting_kind;                  // started in the background: the kind to take once in the foreground
  KeyReader key_reader;                  // next keyboard byte, or negative when none is pending
  bool input_is_terminal;                // standard input is a terminal (driven or not), as start-up found it
  bool output_is_terminal;               // ... standard output
  bool cursor_shown;                     // what the cursor was last made
  int output_held;                       // HeldOutput scopes open: writes wait for the last to close
  unsigned held_continues;               // the continues counted when the outermost one opened
  std::string* expanding;                // where tputs puts the bytes of a capability being expanded
};

// Reads the capabilities and cursor steps of the entry tgetent loaded.
void fetch_capabilities();
// Kind 1 for "console" or a TERM beginning with "linux", else 2.
int32_t terminal_kind_for(const char* term);
// Writes a capability's expansion (or nothing) through put.
bool expand_capability(int32_t index, int32_t a, int32_t b, int (*put)(int));
// Appends a termcap string's expansion to out; false if the entry lacks it.
bool expand_into(std::string& out, const char* capability, int32_t a = 0, int32_t b = 0);
// The fixed sequences 100..106.
const char* fixed_sequence(int32_t index);

// --- Modes: entering and leaving them (modes.cpp) ---------------------------

// The bytes of entering and leaving are expanded when the modes are
// prepared, whole whatever their length, and not changed after: a signal
// handler writes them with write() alone.
struct Modes {
  std::string leaving;             // "\e(B" on the console, then "me", "ve", "ke"
  std::string entering;            // "\e(U" on the console, then "ks"
  std::string entering_no_keypad;  // the same without "ks" (the inputrc's enable-keypad off)
  volatile sig_atomic_t keypad = 1;  // which of the two a resume writes
  termios working_output_modes;    // standard output: as found, with OPOST
  termios working_input_modes;     // the tty: no echo, no canonical input, no flow control
};

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

// --- Signals (term_signals.cpp) ---------------------------------------------

struct Signals {
  struct sigaction saved[NSIG];        // dispositions found at set-up, by signal number
  bool installed[NSIG];                // which of them set-up replaced
  volatile sig_atomic_t fatal_in_progress;
  volatile sig_atomic_t modes_left;    // restored for a stop; enter again on continue
  volatile sig_atomic_t continued;     // counts SIGCONTs: the screen may hold anything since
  volatile sig_atomic_t resized;       // counts SIGWINCHs
  volatile sig_atomic_t resize_pending;  // the size must be read again: at set-up, by SIGWINCH, after SIGCONT
  volatile sig_atomic_t feeds_to_fresh_row;  // line feeds after a carriage return that leave the line behind
  // Replies on their way, for the stop and exit paths: how many, until when
  // (steady clock, ms), and whether the bytes read so far end inside one
  // (1: after an ESC, 2: within "ESC [" and its parameters).
  volatile sig_atomic_t replies_due;
  std::atomic<int64_t> replies_due_until_ms;
  volatile sig_atomic_t reply_tail;
  int wake[2] = {-1, -1};              // the keyboard's self-pipe: handlers write to it, waits watch it
  // The keys of a line (line_keys.cpp): a line is being edited, and what of
  // its keyboard modes the terminal has now; whether it has the kitty protocol.
  volatile sig_atomic_t line_keys;
  volatile sig_atomic_t paste_sent;    // bracketed paste on
  volatile sig_atomic_t kitty_sent;    // the kitty protocol's disambiguate flag pushed
  volatile sig_atomic_t kitty_known;   // 1: the terminal has the protocol; -1: it has not; 0: not known yet
};

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

// --- The keys of a line (line_keys.cpp) -------------------------------------

// Bracketed paste, and the kitty protocol where the terminal has it, are on
// while a line is edited and the program holds the terminal:
//   line_keys_leave:    turns them off at the terminal (a stop, a fatal
//                       signal, the end); async-signal-safe.
//   line_keys_enter:    on again if a line is being edited (a resume);
//                       async-signal-safe.
//   line_keys_answered: the keyboard question's answer: the protocol's flags
//                       (has_protocol), or the device attributes behind them.
//   line_keys_raise_signal: a key the terminal sent as a code (the kitty
//                       protocol) that the kernel raises a signal for when
//                       typed as its byte (Ctrl+C, Ctrl+Z, Ctrl+\): that
//                       signal is raised; true then.
//   line_keys_echo_signal: a signal's key ("^C") at the cursor, if it is one
//                       the keyboard raises, a line is edited and the tty
//                       echoes control characters; async-signal-safe.
void line_keys_leave();
void line_keys_enter();
void line_keys_echo_signal(int signal);
void line_keys_answered(bool has_protocol);
bool line_keys_raise_signal(const Key& key);

// --- The record -------------------------------------------------------------

enum class Encoding { Unknown, Bytes, Utf8 };  // of the locale's text (text.cpp)

struct Terminal {
  Device device;
  Modes modes;
  Signals signals;
  Encoding encoding = Encoding::Unknown;  // decided at first use, from the locale start-up took
  pthread_mutex_t mutex;                  // the recursive terminal mutex, made by term_init
};
extern Terminal term;

// Whether terminal handling is on.
inline bool handling_active() { return term.device.kind != TERM_KIND_OFF; }
