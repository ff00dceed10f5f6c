// SPDX-License-Identifier: MIT
// The terminal layer's keys: what a key is, the codes the run-time offers
// for them, and taking them as they arrive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// --- Keys -------------------------------------------------------------------

// A key as the keyboard gives it, whatever form the terminal sent it in: a
// byte, a character, or a named key, with the modifiers held. Keys of the
// numeric keypad are the keys they are labelled with (a digit, Enter, an
// arrow), marked as from the keypad.
enum class KeyName : uint8_t {
  None,       // no key
  Byte,       // a byte as received: text and the control bytes without a name; code holds it
  Character,  // a character the terminal sent as its code point (128 and above); code holds it
  Enter, Tab, Backspace, Escape,
  Up, Down, Left, Right, Home, End, Insert, Delete, PageUp, PageDown,
  Begin,      // the keypad's centre with NumLock off
  F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
  PasteStart, PasteEnd,  // the marks around a bracketed paste; the text between comes as pasted bytes
  EscapeTakenBack,       // not a key: the Escape given last began a sequence whose rest stalled on the link
};
enum KeyModifier : uint8_t { KEY_SHIFT = 1, KEY_ALT = 2, KEY_CTRL = 4 };

struct Key {
  KeyName name = KeyName::None;
  uint8_t modifiers = 0;
  bool keypad = false;  // from the numeric keypad
  bool pasted = false;  // a byte of a bracketed paste's text
  uint32_t code = 0;    // the byte or the code point, for Byte and Character

  // The same key held with the same modifiers (wherever it came from).
  bool operator==(const Key& other) const {
    return name == other.name && modifiers == other.modifiers && code == other.code;
  }
  explicit operator bool() const { return name != KeyName::None; }
};
constexpr Key named_key(KeyName name, uint8_t modifiers = 0) { return Key{name, modifiers, false, false, 0}; }
// A byte key; DEL and BS are Backspace, CR and LF Enter, TAB Tab, ESC Escape.
constexpr Key byte_key(uint8_t byte, uint8_t modifiers = 0) {
  switch (byte) {
    case 8:
    case 127: return named_key(KeyName::Backspace, modifiers);
    case '\t': return named_key(KeyName::Tab, modifiers);
    case '\r':
    case '\n': return named_key(KeyName::Enter, modifiers);
    case 27: return named_key(KeyName::Escape, modifiers);
    default: return Key{KeyName::Byte, modifiers, false, false, byte};
  }
}
// Enter and Ctrl+D end a line, typed or pasted (a pasted Ctrl+D is text, a
// pasted line break is not): the keyboard reads no further until such a key
// is taken, for what comes after it may be the shell's.
constexpr bool ends_a_line(const Key& key) {
  if (key.pasted) return key.code == '\r' || key.code == '\n';
  return key.name == KeyName::Enter || (key.name == KeyName::Byte && key.code == 4 && key.modifiers == 0);
}
constexpr Key alt(Key key) { return Key{key.name, static_cast<uint8_t>(key.modifiers | KEY_ALT), key.keypad, false, key.code}; }
constexpr Key ctrl(Key key) { return Key{key.name, static_cast<uint8_t>(key.modifiers | KEY_CTRL), key.keypad, false, key.code}; }
// The byte of Ctrl and a letter or one of @[\]^_ (Ctrl+G is 7).
constexpr int32_t ctrl_key(char c) { return c - '@'; }
// The key of Ctrl and a letter, as terminals send it: its control byte.
constexpr Key ctrl_byte(char c) { return Key{KeyName::Byte, 0, false, false, static_cast<uint32_t>(ctrl_key(c))}; }
constexpr Key text_key(char c) { return Key{KeyName::Byte, 0, false, false, static_cast<uint8_t>(c)}; }
// Text: a byte of 32 and above but DEL, or a character, without Ctrl or Alt.
bool key_is_text(const Key& key);
// The key as people write it ("Ctrl+A", "Alt+Left", "x", "Shift+F5", "KP Enter").
std::string key_description(const Key& key);

// The key codes the run-time offers any program. A plain key is the byte
// received, after two mappings: DEL (127) arrives as 8, LF (10) as 13.
// Extended keys follow the PC scan-code numbering: scan code x 256 + 255. A
// key without a code of its own (Shift with an arrow, a character past the
// bytes) has none: -1.
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
  // Ctrl and Alt with the arrows, Alt with Backspace.
  KEY_CTRL_LEFT = extended_key(0x73), KEY_CTRL_RIGHT = extended_key(0x74),
  KEY_ALT_LEFT = extended_key(0x9B), KEY_ALT_RIGHT = extended_key(0x9D), KEY_ALT_BACKSPACE = extended_key(0x0E),
  // Alt with the digits (the PC's Alt+1 to Alt+0) and Alt+-; with a letter
  // or other punctuation, the scan code of its key (alt_key_code).
  KEY_ALT_1 = extended_key(0x78), KEY_ALT_0 = extended_key(0x81), KEY_ALT_MINUS = extended_key(0x82),
  // Not a key: the Escape key given last was the start of a sequence whose
  // rest stalled on the way; what it did is to be undone.
  KEY_ESCAPE_UNDONE = extended_key(0xFE),
};
// The code of a key, or -1 for a key that has none.
int32_t key_code(const Key& key);
// The key of a code (key_code's inverse; a byte is a byte key).
Key key_of_code(int32_t code);
// The key code of a key string from next_key_string (1 or 2 bytes).
int32_t key_code_of(const std::string& key);

// The keys that bytes spell, as this terminal's keyboard reads them: a key
// sequence or a macro in the inputrc ("\e[A" is Up, "\ex" Alt+X).
std::vector<Key> keys_spelt_by(std::string_view bytes);

// The next key, or a key named None when there is none.
Key next_key();
// The next key as a string of 0 (none), 1 or 2 bytes; its code from
// key_code_of. A key without a code is taken and not offered.
std::string next_key_string();
// Reads at most one key that has arrived into the queue, and reports (once)
// whether any key was queued since it was last asked.
int32_t read_key_and_report_arrival();
// True when the key queue holds no key (read_key_and_report_arrival reports arrivals, not contents).
bool key_queue_empty();
// Waits up to the given time (-1: no limit) for a key or a signal; at once
// when a key is there, no longer than until a sequence still arriving is
// decided. Blocks: nothing wakes it but a key, a signal or that deadline.
void term_wait_for_key(int milliseconds);
// Milliseconds on the clock every wait and deadline of the layer uses.
int64_t term_now_ms();
// How long a lone ESC waits for the rest of a sequence (readline's
// keyseq-timeout); a slow link still lengthens the wait.
void term_set_escape_delay(int milliseconds);
// True once the keyboard has reached its end.
bool term_keyboard_ended();
// How a byte past ASCII reads outside UTF-8 (the inputrc's convert-meta and
// input-meta): as Alt with its low seven bits (as_alt; unset: as the entry's
// "km" says), else as text, its eighth bit cleared if stripped.
void term_set_eight_bit_keys(std::optional<bool> as_alt, bool stripped);

// --- The run-time's contract: key reading by code ---------------------------------

// The oldest queued key (read one more in first), taken or left.
enum class KeyRead { Peek, Take };
int32_t read_key(KeyRead read);
// Pushes a byte into the key queue with the byte mapping (127 as 8, 10 as 13).
void key_queue_push_byte(int32_t byte);
