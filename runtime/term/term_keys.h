// SPDX-License-Identifier: MIT
// The terminal layer's keys: their codes, and taking them as they arrive.
#pragma once

#include <cstdint>
#include <string>

// --- Keys -------------------------------------------------------------------

// The code of Ctrl and a letter or one of @[\]^_ (Ctrl+G is 7).
constexpr int32_t ctrl_key(char c) { return c - '@'; }

// Key codes, shared by the decoder and the line editor. A plain key is the
// byte received, after two mappings: DEL (127) arrives as 8, LF (10) as 13.
// Extended keys follow the PC scan-code numbering: scan code x 256 + 255.
constexpr int32_t extended_key(int32_t scan_code) { return scan_code * 256 + 255; }
enum KeyCode : int32_t {
  KEY_BACKSPACE = 8, KEY_TAB = 9, KEY_ENTER = 13, KEY_ESCAPE = 27,
  KEY_F1 = extended_key(0x3B), KEY_F2 = extended_key(0x3C), KEY_F3 = extended_key(0x3D),
  KEY_F4 = extended_key(0x3E), KEY_F5 = extended_key(0x3F), KEY_F6 = extended_key(0x40),
  KEY_F7 = extended_key(0x41), KEY_F8 = extended_key(0x42), KEY_F9 = extended_key(0x43),
  KEY_F10 = extended_key(0x44), KEY_F11 = extended_key(0x45), KEY_F12 = extended_key(0x46),
  KEY_HOME = extended_key(0x47), KEY_UP = extended_key(0x48), KEY_PAGE_UP = extended_key(0x49),
  KEY_LEFT = extended_key(0x4B), KEY_RIGHT = extended_key(0x4D), KEY_END = extended_key(0x4F),
  KEY_DOWN = extended_key(0x50), KEY_PAGE_DOWN = extended_key(0x51), KEY_INSERT = extended_key(0x52),
  KEY_DELETE = extended_key(0x53),
  // Word keys: Ctrl and Alt with the arrows, Alt with a letter, Alt+Backspace.
  KEY_CTRL_LEFT = extended_key(0x73), KEY_CTRL_RIGHT = extended_key(0x74),
  KEY_ALT_LEFT = extended_key(0x9B), KEY_ALT_RIGHT = extended_key(0x9D), KEY_ALT_BACKSPACE = extended_key(0x0E),
  KEY_ALT_D = extended_key(0x20), KEY_ALT_F = extended_key(0x21), KEY_ALT_B = extended_key(0x30),
  KEY_ALT_R = extended_key(0x13), KEY_ALT_T = extended_key(0x14), KEY_ALT_Y = extended_key(0x15),
  KEY_ALT_U = extended_key(0x16), KEY_ALT_L = extended_key(0x26), KEY_ALT_C = extended_key(0x2E),
  // Alt with punctuation and digits (the PC's Alt+1 to Alt+0 and Alt+-).
  KEY_ALT_BACKSLASH = extended_key(0x2B), KEY_ALT_LESS = extended_key(0x33), KEY_ALT_GREATER = extended_key(0x34),
  KEY_ALT_1 = extended_key(0x78), KEY_ALT_0 = extended_key(0x81), KEY_ALT_MINUS = extended_key(0x82),
  // Not a key: the Escape key given last was the start of a sequence whose
  // rest stalled on the way; what it did is to be undone.
  KEY_ESCAPE_UNDONE = extended_key(0xFE),
};
// The key that ESC followed by key stands for (Alt held), or -1 for none:
// Alt with a letter, a digit, "-", "\\", "<", ">", Backspace, Left or Right.
int32_t alt_key(int32_t key);
// The key that an Alt key holds Alt with (alt_key's inverse, letters in
// lower case), or -1 when key is no Alt key.
int32_t key_under_alt(int32_t alt);
// The key code of a key string from next_key_string (1 or 2 bytes).
int32_t key_code_of(const std::string& key);

// The next key as a string of 0 (none), 1 or 2 bytes; its code from key_code_of.
std::string next_key_string();
// Reads at most one key that has arrived into the queue, and reports (once)
// whether any key was queued since it was last asked.
int32_t key_arrived_since_asked();
// True when the key queue holds no key (key_arrived_since_asked reports arrivals, not contents).
bool key_queue_empty();
// Waits up to the given time (-1: no limit) for a key or a signal; at once
// when a key is there, no longer than until a sequence still arriving is
// decided. Blocks: nothing wakes it but a key, a signal or that deadline.
void term_wait_for_key(int milliseconds);
// Milliseconds on the clock every wait and deadline of the layer uses.
int64_t term_now_ms();
// True once the keyboard has reached its end.
bool term_keyboard_ended();
