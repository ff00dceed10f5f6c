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
// Its interface, by what it is about: set-up here; keys (term_keys.h); text
// as the terminal shows it (term_text.h); console text, the window and
// drawing (term_screen.h); and what the run-time offers any program beyond
// the converter's path (term_contract.h). What only its own files share is in
// term_internal.h and the headers it names.
#pragma once

#include <cstdint>

#include "runtime/term/keyboard/keys.h"
#include "runtime/term/screen/screen.h"
#include "runtime/term/screen/text.h"

// --- Set-up and shut-down ---------------------------------------------------

inline constexpr int32_t TERM_KIND_OFF = 0;
inline constexpr int32_t TERM_KIND_LINUX_CONSOLE = 1;
inline constexpr int32_t TERM_KIND_OTHER = 2;

void term_init();
void term_shutdown();
int32_t term_kind();
// Whether the program drives the terminal (its modes, keys and drawing): not
// when standard input or output is no terminal or TERM cannot be used.
bool term_handling_active();
// Started in the background, the terminal is taken when the program first
// comes to the foreground: called before a line is read, it waits for that
// (a process in the background is stopped as reading the terminal would stop
// it) and sets the terminal up. AfterStop: the program was stopped meanwhile,
// and the screen holds the shell's lines since.
enum class TakeOver { No, InPlace, AfterStop };
TakeOver term_take_over();
// Whether the process is in the terminal's foreground process group (true
// when that cannot be told). In the background nothing is drawn or asked.
bool term_in_foreground();
// Whether standard input and standard output are terminals, as start-up found
// them (driven or not).
bool term_input_is_terminal();
bool term_output_is_terminal();
