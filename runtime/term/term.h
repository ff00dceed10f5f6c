// Terminal layer: decides at start-up whether to drive the terminal, switches
// the keyboard to unbuffered non-echoing non-blocking input, restores it at
// exit and on fatal signals, writes console text with a shadow copy of the
// screen, tracks and queries the cursor position and window size, places the
// cursor, and decodes keys into a key queue.
//
// Terminal kind 0 (handling off) turns every operation into plain standard I/O.
//
// Emits: termcap "cm", "bl", "me", "ve", "vi", "ks", "ke"; "\e(U" and "\e(B"
// on the Linux console; the report requests "\e[6n" (cursor) and "\e[18t"
// (window size); control bytes 8, 12, 14, 15 and 27 as font glyphs
// ("\e%G", U+F000 + byte, "\e%@").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Terminal kinds.
inline constexpr int32_t TERM_KIND_OFF = 0;
inline constexpr int32_t TERM_KIND_LINUX_CONSOLE = 1;
inline constexpr int32_t TERM_KIND_OTHER = 2;

// Emitter indices: termcap capabilities 0..16, fixed sequences 100..107.
enum TermCapability : int32_t {
  CAP_CURSOR_MOTION = 0,  // "cm"
  CAP_HOME = 1,           // "ho"
  CAP_SCROLL_REGION = 2,  // "cs"
  CAP_CLEAR = 3,          // "cl"
  CAP_CLEAR_EOL = 4,      // "ce"
  CAP_WS = 5,             // "WS"
  CAP_BELL = 6,           // "bl"
  CAP_FOREGROUND = 7,     // "AF"
  CAP_BACKGROUND = 8,     // "AB"
  CAP_ATTRS_OFF = 9,      // "me"
  CAP_BOLD = 10,          // "md"
  CAP_SCROLL_FORWARD = 11,// "SF"
  CAP_CURSOR_NORMAL = 12, // "ve"
  CAP_CURSOR_HIDDEN = 13, // "vi"
  CAP_DELETE_CHAR = 14,   // "dc"
  CAP_KEYPAD_ON = 15,     // "ks"
  CAP_KEYPAD_OFF = 16,    // "ke"
  CAP_COUNT = 17,
  SEQ_FONT_DIRECT = 100,  // "\e(U"
  SEQ_FONT_DEFAULT = 101, // "\e(B"
  SEQ_CURSOR_REPORT = 102,// "\e[6n"
  SEQ_SIZE_REPORT = 103,  // "\e[18t"
  SEQ_MOUSE_ON = 104,
  SEQ_MOUSE_OFF = 105,
  SEQ_CLEAR_HOME = 106,
  SEQ_RENDITION = 107,    // "\e[%dm"
};

// Set-up and restoration.
void term_init();
int32_t term_enter_modes();
void term_restore();
void term_shutdown();
int32_t term_kind();
bool term_emit(int32_t index, int32_t a, int32_t b);
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

// Console text and screen geometry.
void term_write(const void* bytes, std::size_t length);
void term_window_size(int32_t* columns, int32_t* rows);
void term_cursor_position(int32_t* column, int32_t* row);
int32_t term_cursor_column();
int32_t view_top();
int32_t view_bottom();
void view_range(int32_t* first, int32_t* last);
int32_t term_place_cursor(int32_t row, int32_t column, int32_t visibility);
int32_t place_cursor_validated(int32_t row, int32_t column, int32_t visibility, int32_t* packed);
int32_t place_cursor(int32_t row, int32_t column, int32_t visibility);

// Keys.
int32_t read_key(int32_t consume);
void key_queue_push_byte(int32_t byte);
int32_t key_available();
// True when the key queue holds no key (key_available reports arrivals, not contents).
bool key_queue_empty();
std::string next_key_string();
// Waits up to the given time for keyboard input; returns at once when some is pending.
void term_wait_for_key(int milliseconds);
// True once the keyboard has hung up or failed for good.
bool term_keyboard_ended();
