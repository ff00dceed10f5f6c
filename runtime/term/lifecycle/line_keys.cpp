// SPDX-License-Identifier: MIT
// The keyboard's modes while a line is edited: bracketed paste (a paste is
// text, not keys), and, where the terminal has the kitty keyboard protocol,
// its disambiguate flag (the Escape key and Alt keys unambiguous over any
// link). Only that flag: with more, a person could not even type "reset"
// after the program was killed. Both are on only while a line is edited and
// the program holds the terminal, and off, the same way they were turned
// on (push and pop), before anything else is written or done: at Enter, at
// exit, before a stop (and on again after it), at every fatal signal.
//
// The protocol is asked for once, never waited for: until a positive answer
// comes, keys are decoded as they come, in any form.
#include <termios.h>

#include <csignal>
#include <cstring>

#include "runtime/stream/stream.h"
#include "runtime/term/keyboard/keyboard.h"
#include "runtime/term/lifecycle/lifecycle.h"
#include "runtime/term/questions/reports.h"

namespace {

constexpr char kPasteOn[] = "\033[?2004h";
constexpr char kPasteOff[] = "\033[?2004l";
constexpr char kKittyPush[] = "\033[>1u";
constexpr char kKittyPop[] = "\033[<u";

volatile sig_atomic_t paste_wanted = 1;  // the inputrc may turn bracketed paste off
volatile sig_atomic_t signal_echo_wanted = 1;

// What the terminal has on now; the handlers read and change it too.
struct LineKeys {
  volatile sig_atomic_t editing;     // a line is being edited
  volatile sig_atomic_t paste_sent;  // bracketed paste on
  volatile sig_atomic_t kitty_sent;  // the kitty protocol's disambiguate flag pushed
};
LineKeys line_keys;

// Writes one of the sequences, from a handler too.
void write_now(const char* sequence) { stream_write_fully(sequence, std::strlen(sequence)); }
// ... or with the rest of the drawing.
void write_with_output(const char* sequence) {
  stream_output(sequence, std::strlen(sequence));
  stream_output_done();
}

// Turns on what is still off; through write (a handler) or with the output.
void turn_on(void (*write)(const char*)) {
  if (paste_wanted && !line_keys.paste_sent) {
    write(kPasteOn);
    line_keys.paste_sent = 1;
  }
  if (term_keyboard_protocol_known() > 0 && !line_keys.kitty_sent) {
    write(kKittyPush);
    line_keys.kitty_sent = 1;
    keyboard_report_escape(true);
  }
}

void turn_off(void (*write)(const char*)) {
  if (line_keys.kitty_sent) {
    write(kKittyPop);
    line_keys.kitty_sent = 0;
    keyboard_report_escape(false);
  }
  if (line_keys.paste_sent) {
    write(kPasteOff);
    line_keys.paste_sent = 0;
  }
}

// The terminal is the program's now: driven, in the foreground, not left for a stop.
bool holding_the_terminal() { return handling_active() && !signals_modes_left() && term_in_foreground(); }

}  // namespace

void term_line_keys_on() {
  const bool all_on = (line_keys.paste_sent || !paste_wanted) &&
                      (term_keyboard_protocol_known() <= 0 || line_keys.kitty_sent);
  if (line_keys.editing && all_on) return;  // the common case, at every key: no system call
  line_keys.editing = 1;
  if (!holding_the_terminal()) return;
  term_ask_keyboard_protocol();
  turn_on(write_with_output);
}

void term_set_bracketed_paste(bool on) { paste_wanted = on ? 1 : 0; }

void line_keys_reset() {
  paste_wanted = 1;
  signal_echo_wanted = 1;
  line_keys.editing = 0;
  line_keys.paste_sent = 0;
  line_keys.kitty_sent = 0;
}

void term_set_keypad(bool on) {
  if (term.modes.keypad == (on ? 1 : 0)) return;
  term.modes.keypad = on ? 1 : 0;
  if (!holding_the_terminal()) return;  // a resume enters the modes as they are now
  term_emit(on ? CAP_KEYPAD_ON : CAP_KEYPAD_OFF, 0, 0);
  stream_output_done();
}

void term_set_signal_echo(bool on) { signal_echo_wanted = on ? 1 : 0; }

void line_keys_echo_signal(int signal) {
  const termios& saved = term.device.saved_input_modes;
  if (!signal_echo_wanted || !line_keys.editing || (saved.c_lflag & ECHOCTL) == 0) return;
  const int index = signal == SIGINT ? VINTR : signal == SIGQUIT ? VQUIT : signal == SIGTSTP ? VSUSP : -1;
  if (index < 0) return;
  const cc_t key = saved.c_cc[index];
  if (key == _POSIX_VDISABLE || key >= 0x20) return;  // shown as ^ and its letter only when a control byte
  const char shown[2] = {'^', static_cast<char>(key ^ 0x40)};
  stream_write_fully(shown, sizeof shown);
}

void term_line_keys_off() {
  line_keys.editing = 0;
  if (handling_active()) turn_off(write_with_output);
}

void line_keys_leave() { turn_off(write_now); }

void line_keys_enter() {
  if (line_keys.editing) turn_on(write_now);
}

