// SPDX-License-Identifier: MIT
// The terminal layer: whether to drive the terminal, decided once at start-up;
// the keyboard switched to unbuffered, non-echoing, non-blocking input and
// put back at exit, on fatal signals and for a stop; keys decoded from what
// the terminal sends, however it is split; console text written to the
// screen; the window size and the cursor, asked of the terminal and moved
// relative to where it is.
//
// Terminal kind 0 (handling off) turns every operation into plain standard
// I/O. The layer depends on the streams and the core only: what other layers
// need to hear (a changed window size) they learn through a listener.
//
// Its interface, by room: set-up and the line's keyboard modes here (the
// life cycle); the floor (term_floor.h: the emitter, the mutex, what the
// signals counted); keys (keyboard/keys.h); text as the terminal shows it
// (screen/text.h); console text, the window and drawing (screen/screen.h);
// what is learnt by asking the terminal (questions/questions.h). Each
// declares what its own room defines. What only the layer's rooms share is
// in term_internal.h and the headers it names.
//
// Emits: termcap "cm", "bl", "vb", "me", "ve", "vi", "ks", "ke", "cl", "ce",
// and for moving relative to the cursor "up", "UP", "nd", "RI", "le", "LE",
// "cd" (with CR and LF); "\e(U" and "\e(B" on the Linux console; the report
// requests "\e[6n" (cursor), "\e[18t" (window size) and "\e[?u\e[c" (the
// kitty keyboard protocol, the device attributes behind it); while a line
// is edited bracketed paste ("\e[?2004h", "\e[?2004l") and the protocol's
// disambiguate flag ("\e[>1u", "\e[<u"); control bytes 8, 12, 14, 15 and
// 27 as font glyphs ("\e%G", U+F000 + byte, "\e%@").
#pragma once

#include <cstdint>

#include "runtime/term/keyboard/keys.h"
#include "runtime/term/questions/questions.h"
#include "runtime/term/screen/screen.h"
#include "runtime/term/screen/text.h"
#include "runtime/term/term_floor.h"

// --- Set-up and shut-down ---------------------------------------------------

void term_init();
void term_shutdown();
// Started in the background, the terminal is taken when the program first
// comes to the foreground: called before a line is read, it waits for that
// (a process in the background is stopped as reading the terminal would stop
// it) and sets the terminal up. AfterStop: the program was stopped meanwhile,
// and the screen holds the shell's lines since.
enum class TakeOver { No, InPlace, AfterStop };
TakeOver term_take_over();
// The run-time's contract: the modes entered and restored on their own.
int32_t term_enter_modes();
void term_restore();


// --- The keyboard modes of a line (lifecycle/line_keys.cpp) ------------------

// While a line is edited the keyboard sends what it can tell apart: bracketed
// paste, and the kitty keyboard protocol's unambiguous keys where the
// terminal has it (asked once, never waited for). On before the first key
// of a line, off before anything else is written or done.
void term_line_keys_on();
// Whether bracketed paste is among them (readline's enable-bracketed-paste; on unless turned off).
void term_set_bracketed_paste(bool on);
// Whether the application keypad ("ks") is on for the run: on unless the
// inputrc's enable-keypad turns it off. The keys read the same either way;
// "ke" is sent on leaving whatever this says.
void term_set_keypad(bool on);
// Whether a signal raised while a line is edited (Ctrl+C, Ctrl+\, Ctrl+Z)
// shows its key, as "^C", where the tty echoes control characters
// (readline's echo-control-characters; on unless turned off).
void term_set_signal_echo(bool on);
void term_line_keys_off();
