// SPDX-License-Identifier: MIT
// The floor of the terminal layer, which every room stands on and which
// calls none of them (device.cpp): the one global record `term`, plain data
// the signal handlers can reach: the device set-up found, the working modes
// and the bytes of entering and leaving them, and what the handlers note;
// the entry's capabilities and their emitter; the terminal mutex.
//
// The rooms above it, each a folder with its own header for what only it
// and the rooms above share, and calls only downwards:
//   lifecycle/  set-up, the modes, the signal handlers, the line's keyboard modes  (lifecycle.h)
//   questions/  asking the terminal, tracking the answers, replies owed at the end  (reports.h)
//   keyboard/   the decoder, the key queue and tree, reading and waiting  (keyboard.h, decoder.h)
//   screen/     the writer, the window, the tracked screen, text  (window.h, tracked_screen.h)
// lifecycle calls every room; questions call the keyboard (a question waits
// on it) and the screen; the keyboard calls the screen's text only; the
// keyboard hands the replies it finds to a listener set-up wires to the
// questions.
#pragma once

#include <pthread.h>
#include <termios.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

#include "runtime/term/term.h"

// --- Device: the tty and the terminal entry ---------------------------------

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

// --- Modes: what is entered and left (lifecycle/modes.cpp fills it) ---------

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

// --- What the signal handlers note ------------------------------------------

// Written by the handlers and read by every room, only through the functions
// below (device.cpp); all async-signal-safe.
struct SignalNotes {
  volatile sig_atomic_t continued;           // counts SIGCONTs: the screen may hold anything since
  volatile sig_atomic_t resized;             // counts SIGWINCHs
  volatile sig_atomic_t size_stale;          // the size must be read again: at set-up, by SIGWINCH, after SIGCONT
  volatile sig_atomic_t feeds_to_fresh_row;  // line feeds after a carriage return that leave the line behind
};
void note_continued();
void note_resized();
// The window's size is to be read again (a change, a resume, set-up, or a
// size the kernel could not tell).
void note_size_stale();
// Whether it was to be read again; it is not, from now on, until noted again.
bool take_size_stale();
bool size_stale();
int feeds_to_fresh_row();

// --- The record -------------------------------------------------------------

enum class Encoding { Unknown, Bytes, Utf8 };  // of the locale's text (screen/text.cpp)

struct Terminal {
  Device device;
  Modes modes;
  SignalNotes signals;
  Encoding encoding = Encoding::Unknown;  // decided at first use, from the locale start-up took
  pthread_mutex_t mutex;                  // the recursive terminal mutex, made by term_init
};
extern Terminal term;

// Whether terminal handling is on.
inline bool handling_active() { return term.device.kind != TERM_KIND_OFF; }
