// SPDX-License-Identifier: MIT
// The terminal layer's floor, as the other layers see it (device.cpp): the
// capability emitter, the terminal mutex, and what the signal handlers
// counted.
#pragma once

#include <cstdint>

// --- The device ------------------------------------------------------------------

inline constexpr int32_t TERM_KIND_OFF = 0;
inline constexpr int32_t TERM_KIND_LINUX_CONSOLE = 1;
inline constexpr int32_t TERM_KIND_OTHER = 2;

int32_t term_kind();
// Whether the program drives the terminal (its modes, keys and drawing): not
// when standard input or output is no terminal or TERM cannot be used.
bool term_handling_active();
// Whether the process is in the terminal's foreground process group (true
// when that cannot be told). In the background nothing is drawn or asked.
bool term_in_foreground();
// Whether standard input and standard output are terminals, as start-up found
// them (driven or not).
bool term_input_is_terminal();
bool term_output_is_terminal();

// --- The emitter ----------------------------------------------------------------

// Emitter indices: termcap capabilities 0..16, fixed sequences 100..107.
enum TermCapability : int32_t {
  CAP_CURSOR_MOTION = 0, CAP_HOME, CAP_SCROLL_REGION, CAP_CLEAR, CAP_CLEAR_EOL,  // "cm" "ho" "cs" "cl" "ce"
  CAP_WS, CAP_BELL, CAP_FOREGROUND, CAP_BACKGROUND, CAP_ATTRS_OFF,               // "WS" "bl" "AF" "AB" "me"
  CAP_BOLD, CAP_SCROLL_FORWARD, CAP_CURSOR_NORMAL, CAP_CURSOR_HIDDEN,            // "md" "SF" "ve" "vi"
  CAP_DELETE_CHAR, CAP_KEYPAD_ON, CAP_KEYPAD_OFF, CAP_COUNT,                     // "dc" "ks" "ke"
  SEQ_FONT_DIRECT = 100, SEQ_FONT_DEFAULT, SEQ_CURSOR_REPORT, SEQ_SIZE_REPORT,  // "\e(U" "\e(B" "\e[6n" "\e[18t"
  SEQ_MOUSE_ON, SEQ_MOUSE_OFF, SEQ_CLEAR_HOME, SEQ_RENDITION,                    // ... "\e[%dm"
};
// Writes a capability (0 to 16, with a as the column and b as the row
// argument) or a fixed sequence (100 to 107); false when not driven, or the
// entry lacks it.
bool term_emit(int32_t index, int32_t a, int32_t b);
// The visible bell (the entry's "vb", a flash of the screen); false when not driven or the entry lacks it.
bool term_flash();

// --- The terminal mutex (the run-time's contract) ------------------------------

void term_lock();
void term_unlock();
// Scoped hold of the recursive terminal mutex.
class TermLock {
 public:
  TermLock() { term_lock(); }
  ~TermLock() { term_unlock(); }
  TermLock(const TermLock&) = delete;
  TermLock& operator=(const TermLock&) = delete;
};

// --- What the signals counted ----------------------------------------------------

// How many window-size changes were signalled.
unsigned term_resize_count();
// How many times the process was continued after a stop: the screen may hold anything since.
unsigned term_continue_count();
// Tells a fatal-signal handler how many line feeds, after a carriage return,
// put the cursor on a fresh row below what is shown (0: it is at one).
void term_set_feeds_to_fresh_row(int feeds);
