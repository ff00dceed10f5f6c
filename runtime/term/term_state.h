// SPDX-License-Identifier: MIT
// The terminal layer's state, shared by its files (and by tests, which set
// fields directly to invent a terminal). Four records:
//   TermState   the terminal record, cleared by term_init;
//   ScreenState geometry bookkeeping that set-up does not touch;
//   KeyState    the key queue and the escape-sequence tree;
//   Keyboard    bytes read from the terminal and not yet decoded.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <termios.h>
#include <vector>

#include "runtime/term/term.h"

using KeyReader = int (*)();

// "/dev/tty" opened "r+b": the one owner of the stream. Closing is
// idempotent, so whichever of a failed set-up, restoration or shut-down
// comes first gives it back.
struct TtyStream {
  std::FILE* stream;  // nullptr when closed
  int fd;             // its descriptor; -1 when closed

  bool open();
  void close();
  bool is_open() const { return stream != nullptr; }
};

// Cursor steps beyond the emitter's table, for moving relative to where the
// cursor is, and clearing below it.
enum Motion : int32_t {
  MOTION_UP = 0,       // "up"
  MOTION_UP_BY,        // "UP", a count
  MOTION_RIGHT,        // "nd"
  MOTION_RIGHT_BY,     // "RI", a count
  MOTION_CLEAR_BELOW,  // "cd"
  MOTION_COUNT,
};

struct TermState {
  volatile sig_atomic_t kind;            // 0 handling off, 1 Linux console, 2 any other terminal; a fatal signal clears it
  TtyStream tty;                         // the keyboard side, non-blocking while driven
  termios saved_output_modes;            // standard output's modes as found
  termios saved_input_modes;             // the tty's modes as found
  int saved_status_flags;                // the tty descriptor's file-status flags as found
  int32_t foreground_colour;             // 7 after set-up
  int32_t background_colour;             // 0 after set-up
  int32_t cursor_column;                 // 1-based tracked cursor
  int32_t cursor_row;
  int32_t window_columns;                // 0 until the first size refresh
  int32_t window_rows;
  const char* capabilities[CAP_COUNT];   // termcap strings, owned by the library; nullptr if absent
  const char* motions[MOTION_COUNT];     // the same for the cursor steps
  bool late_wrap;                        // "xn": a character in the last column leaves the cursor there, wrap pending
  KeyReader key_reader;                  // next keyboard byte, or negative when none is pending
};
extern TermState term_state;

// Set to 1 when the window size must be read again: at set-up, by SIGWINCH, after SIGCONT.
extern volatile sig_atomic_t term_resize_flag;

// The shadow screen: the character and attribute written to each cell,
// 0-based row and column. Rows are kept once written, each up to the last
// column written; a cell never written reads 0.
class ShadowScreen {
 public:
  void resize(int32_t columns, int32_t rows);  // keeps the top-left part that still fits
  // Stores a run of cells in row-major order from a cell index (row x columns + column).
  void put(int64_t cell, const uint8_t* characters, std::size_t count, uint8_t attribute);
  uint8_t character(int32_t row, int32_t column) const;
  uint8_t attribute(int32_t row, int32_t column) const;
  std::size_t bytes_held() const;
  void clear();
  std::string text() const;  // a line per row, '.' for a cell never written (for tests)

 private:
  struct Row {
    std::string characters;
    std::string attributes;
  };
  std::map<int32_t, Row> rows_;
  int32_t columns_ = 0;
  int32_t rows_count_ = 0;
};
extern ShadowScreen shadow;

struct ScreenState {
  int32_t view_top;            // 0-based; -1 until first use
  int32_t view_bottom;         // 0-based; -1 until first use, then fixed
  int32_t visibility;          // CURSOR_VISIBLE or 0: what the cursor was last made
  ResizeListener on_resize;    // told after every size refresh
  unsigned size_generation;    // counts size refreshes
};
extern ScreenState screen_state;
inline constexpr ScreenState SCREEN_STATE_AT_START{-1, -1, CURSOR_VISIBLE, nullptr, 0};

inline constexpr int KEY_QUEUE_SIZE = 256;
inline constexpr int32_t KEY_MOUSE_REPORT = 512;  // tree marker, never queued

struct KeyNode {
  uint8_t byte;           // the sequence byte this node matches
  uint16_t key_code;      // the key whose sequence ends here; 0 if none (scan codes reach 0x9D)
  KeyNode* next_sibling;  // same level
  KeyNode* first_child;   // next level
};

struct KeyState {
  int32_t slots[KEY_QUEUE_SIZE];  // queued key codes
  int32_t read_index;             // oldest queued key
  int32_t write_index;            // slot of the next push
  int32_t key_arrived;            // set by every push, cleared by key_available
  KeyNode* tree;                  // escape-sequence tree after ESC; nullptr until built
  bool tree_built;
};
extern KeyState key_state;

// Milliseconds on a clock that only goes forward; replaceable so that tests
// can let time pass between the pieces of a key.
using MillisecondClock = int64_t (*)();

// Bytes from the keyboard not yet decoded, oldest first, pulled from the key
// reader. A sequence that has begun but not ended waits here for its other
// bytes: a lone ESC for the escape delay, a longer one for the sequence limit.
struct Keyboard {
  std::vector<uint8_t> bytes;
  std::size_t next = 0;              // the oldest byte not yet decoded
  std::size_t scanned = 0;           // bytes from next to here are whole keys, replies already taken out
  std::vector<std::size_t> breaks;   // where replies were taken out: no key spans one
  int64_t last_arrival_ms = 0;       // when bytes last came
  int escape_delay_ms = 100;         // how long a lone ESC waits for more (ESCDELAY)
  MillisecondClock clock = nullptr;  // the steady clock when none is set
  bool discarding = false;           // within an overlong sequence: its bytes are dropped as they come
  bool ended = false;                // the tty reached its end
};
extern Keyboard keyboard;

// How long the rest of a begun sequence (ESC [ or ESC O and more) is awaited.
inline constexpr int KEY_SEQUENCE_LIMIT_MS = 1000;

// What the bytes at the front of the keyboard are. complete: no more bytes
// will join them (the wait for them is over).
enum class Unit { Key, Ignored, CursorReport, SizeReport, Incomplete };
struct DecodedUnit {
  Unit kind;
  int32_t key;          // Unit::Key
  int32_t a, b;         // reports: row and column, or rows and columns
  std::size_t length;   // bytes it takes (0 when incomplete)
};
DecodedUnit decode_unit(const uint8_t* bytes, std::size_t count, bool complete);

// Capability lookup used to build the escape-sequence tree (tgetstr by default).
using CapabilityLookup = const char* (*)(const char* id);
void key_tree_build(CapabilityLookup lookup);
void key_tree_release();

// The keyboard: pulling bytes from the key reader, the decoder's view of
// what has arrived, and taking out replies without touching the keys.
int keyboard_read_byte();          // the default key reader: the tty, without waiting
int64_t keyboard_now_ms();
void keyboard_fill();
bool keyboard_has_pending();
// The unit at the front of the pending bytes; Incomplete while it may still grow.
DecodedUnit keyboard_front_unit();
void keyboard_consume(std::size_t length);
// Takes every reply out of the bytes that have arrived, leaving the keys in order.
void keyboard_take_replies();
// Waits up to the given time for more keyboard bytes.
void keyboard_wait(int milliseconds);

// Report queries and the size refresh; run with the terminal mutex held.
enum class Report { Cursor, Size };
bool term_query(Report report, int32_t* a, int32_t* b);
void term_query_cursor();
void term_refresh_size(bool requery);
// A reply the decoder met; used if a request for it is outstanding.
void reports_receive(Report report, int32_t a, int32_t b);
// Forgets requests and answers (tests start each terminal afresh).
void reports_reset();
// At exit: waits a while for a reply still on its way (a terminal that
// answers late), so that it does not land in the shell's input.
void reports_await_late_replies();

// Entering and leaving the working modes, written once for set-up,
// restoration, fatal signals and suspend/resume (modes.cpp).
//   modes_prepare: after the saved modes are read; computes the working modes
//                  and expands the bytes written on entering and leaving.
//   modes_apply:   applies the working modes; false if the terminal refuses.
//   modes_enter:   modes_apply, then the entering bytes ("\e(U" on the
//                  console, "ks"); what a resume does.
//   modes_leave:   the leaving bytes ("\e(B" on the console, "me", "ve",
//                  "ke"), then the saved modes, with SIGTTOU ignored.
//                  Async-signal-safe.
void modes_prepare();
// Writes all the bytes to standard output, whatever interrupts; async-signal-safe.
bool term_write_fully(const void* bytes, std::size_t length);
bool modes_apply();
void modes_write_entering_bytes();
void modes_enter();
void modes_leave();
// Writes a capability's expansion (or nothing) through put.
bool expand_capability(int32_t index, int32_t a, int32_t b, int (*put)(int));
bool expand_string(const char* capability, int32_t a, int32_t b, int (*put)(int));
// The fixed sequences 100..106.
const char* fixed_sequence(int32_t index);

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

// Kind 1 for "console" or a TERM beginning with "linux", else 2.
int32_t terminal_kind_for(const char* term);

