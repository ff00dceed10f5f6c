// SPDX-License-Identifier: MIT
// The terminal layer: whether to drive the terminal, decided once at start-up;
// the keyboard switched to unbuffered, non-echoing, non-blocking input and
// put back at exit, on fatal signals and for a stop; keys decoded from what
// the terminal sends, however it is split; console text written with a
// shadow copy of the screen; the window size and the cursor, asked of the
// terminal and moved relative to where it is.
//
// Terminal kind 0 (handling off) turns every operation into plain standard
// I/O. The layer depends on the streams and the core only: what other layers
// need to hear (a changed window size) they learn through a listener.
//
// Emits: termcap "cm", "bl", "me", "ve", "vi", "ks", "ke", "cl", "ce", and for
// moving relative to the cursor "up", "UP", "nd", "RI", "cd" (with CR and
// LF); "\e(U" and "\e(B" on the Linux console; the report requests "\e[6n"
// (cursor) and "\e[18t" (window size); control bytes 8, 12, 14, 15 and 27 as
// font glyphs ("\e%G", U+F000 + byte, "\e%@").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// --- Set-up and shut-down ---------------------------------------------------

inline constexpr int32_t TERM_KIND_OFF = 0;
inline constexpr int32_t TERM_KIND_LINUX_CONSOLE = 1;
inline constexpr int32_t TERM_KIND_OTHER = 2;

void term_init();
void term_shutdown();
int32_t term_kind();
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

// --- Keys -------------------------------------------------------------------

// Key codes, shared by the decoder and the line editor. A plain key is the
// byte received, after two mappings: DEL (127) arrives as 8, LF (10) as 13.
// Extended keys follow the PC scan-code numbering: scan code x 256 + 255.
constexpr int32_t extended_key(int32_t scan_code) { return scan_code * 256 + 255; }
enum KeyCode : int32_t {
  KEY_BACKSPACE = 8, KEY_TAB = 9, KEY_LINE_FEED = 10, KEY_ENTER = 13, KEY_ESCAPE = 27,
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
// The key code of a key string from next_key_string (1 or 2 bytes).
int32_t key_code_of(const std::string& key);

// The next key as a string of 0 (none), 1 or 2 bytes; its code from key_code_of.
std::string next_key_string();
// Reads at most one key that has arrived into the queue, and reports (once)
// whether any key was queued since it was last asked.
int32_t key_available();
// True when the key queue holds no key (key_available reports arrivals, not contents).
bool key_queue_empty();
// Waits up to the given time (-1: no limit) for a key or a signal; at once
// when a key is there, no longer than until a sequence still arriving is
// decided. Blocks: nothing wakes it but a key, a signal or that deadline.
void term_wait_for_key(int milliseconds);
// Milliseconds on the clock every wait and deadline of the layer uses.
int64_t term_now_ms();
// True once the keyboard has reached its end.
bool term_keyboard_ended();

// --- Text as the terminal shows it -----------------------------------------

// In a UTF-8 locale a character (a valid
// UTF-8 sequence) takes wcwidth cells, and a byte that begins none is a
// character of one cell; a unit is a character with the zero-width marks
// after it. In any other locale every byte is a unit of one cell.
struct TextUnit {
  std::size_t length;  // bytes
  int cells;
  // It may be sent to the terminal as it is: not a control character (C0,
  // DEL, C1: bytes 0x80 to 0x9F outside UTF-8, U+0080 to U+009F in it), nor
  // in UTF-8 a byte that begins no character or one wcwidth cannot show.
  // Any other is shown as the stand-in, one cell.
  bool showable;
};
bool term_text_utf8();
TextUnit text_character_at(std::string_view text, std::size_t at);
TextUnit text_unit_at(std::string_view text, std::size_t at);
std::size_t text_cells(std::string_view text);
// What a unit that may not be sent as it is shows instead: "?", or U+FFFD in UTF-8.
std::string_view text_stand_in();
// Whether the unit at at is a letter or a digit: words are runs of them.
bool text_word_character_at(std::string_view text, std::size_t at);
// True while bytes are the start of a UTF-8 character still waiting for its last bytes.
bool text_incomplete_character(std::string_view bytes);
// The text with its letters in upper or lower case, or capitalized (a letter
// after no letter or digit in upper case, the others in lower).
enum class TextCase { Upper, Lower, Capitalize };
std::string text_with_case(std::string_view text, TextCase mode);

// --- Console text and the screen -------------------------------------------

// Writes console text: to standard output, into the shadow screen, and
// advancing the tracked cursor.
void term_write(const void* bytes, std::size_t length);
// Applies a pending window-size change and flushes output: a write of nothing.
inline void term_refresh() { term_write(nullptr, 0); }
void term_window_size(int32_t* columns, int32_t* rows);
// Asks the terminal where the cursor is (1-based); false when it did not
// answer in time, is asked from the background, or is not driven.
bool term_ask_cursor(int32_t* column, int32_t* row);
// Whether a character written in the last column leaves the cursor there with
// the wrap pending ("xn"), rather than moving it to the next row at once.
bool term_wraps_late();
// Called after every window-size refresh, with the terminal mutex held.
using ResizeListener = void (*)();
void term_set_resize_listener(ResizeListener listener);
// Whether the window size changed since it was last read (it is read again at the next use).
bool term_resize_pending();
// Counts the window-size refreshes: a change means the size was read again.
unsigned term_size_generation();
// How many window-size changes were signalled.
unsigned term_resize_count();
// How many times the process was continued after a stop: the screen may hold anything since.
unsigned term_continue_count();

// --- Drawing ----------------------------------------------------------------

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

// Cursor visibility requests; a placement with CURSOR_KEEP leaves it as it is.
enum CursorVisibility : int32_t { CURSOR_HIDE = 0, CURSOR_SHOW = 1, CURSOR_KEEP = -1 };
inline constexpr int32_t CURSOR_VISIBLE = 0x10000;  // the visibility state while shown
// Shows or hides the cursor where it is, without asking the terminal where that is.
void term_set_cursor_visibility(int32_t visibility);
bool term_cursor_visible();
// Clears from the cursor to the end of its row ("ce"); false if the entry cannot.
bool term_clear_to_end_of_row();
// Clears from the cursor to the end of the screen ("cd"); false if the entry cannot.
bool term_clear_below();
// Clears the screen and homes the cursor ("cl"); false if the entry cannot.
bool term_clear_screen();
// Moves the cursor from one cell to another (1-based) relative to where it
// is, asking the terminal nothing: down by line feeds, which scroll at the
// bottom row; up with "UP" or "up"; along the row with "RI" or "nd" after a
// carriage return. So a row that is only assumed still draws where the
// cursor really is. An entry without the steps gets "cm".
struct CursorMove {
  int32_t from_column, from_row;
  int32_t to_column, to_row;
  bool wrap_pending;  // the cursor stands on the last column, its wrap not yet done
};
void term_move_cursor(const CursorMove& move);
// Tells a fatal-signal handler how many line feeds, after a carriage return,
// put the cursor on a fresh row below what is shown (0: it is at one).
void term_set_feeds_to_fresh_row(int feeds);

// --- The run-time's contract, not on the converter's path ------------------
// The operations the run-time layer offers to any program, which the converter
// and its line editor do not call: entering and restoring the modes on their
// own, the mutex, the cursor read back on every call, the view range and
// absolute cursor placement with its packed result, and key reading by code.

int32_t term_enter_modes();
void term_restore();
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
// The cursor, 1-based: asked of the terminal where it answers, else as tracked.
void term_cursor_position(int32_t* column, int32_t* row);
int32_t term_cursor_column();
int32_t view_top();
int32_t view_bottom();
void view_range(int32_t* first, int32_t* last);
// Places the cursor at a 1-based cell (0 or less keeps the current row or
// column) and returns the packed cursor result: column and row in the low
// two bytes, bit 16 set while the cursor is visible.
int32_t term_place_cursor(int32_t row, int32_t column, int32_t visibility);
constexpr int32_t pack_cursor(int32_t column, int32_t row, int32_t visibility_state) {
  return (column & 0xFF) | ((row & 0xFF) << 8) | (visibility_state & CURSOR_VISIBLE);
}
// The oldest queued key (read one more in first), taken or left.
enum class KeyRead { Peek, Take };
int32_t read_key(KeyRead read);
// Pushes a byte into the key queue with the byte mapping (127 as 8, 10 as 13).
void key_queue_push_byte(int32_t byte);
