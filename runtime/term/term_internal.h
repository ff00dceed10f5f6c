// SPDX-License-Identifier: MIT
// What only the terminal layer's own files share, and tests, which reach the
// layer's state through this header to invent a terminal: the one record of
// the layer's state, `term` (defined in term_setup.cpp), and the operations
// its files call in one another.
//
// The record's parts, and the file that owns each:
//   device    term_setup.cpp    what set-up found and decided; cleared by term_init
//   screen    screen.cpp        the tracked cursor, the window and the shadow screen
//   keys      keys.cpp          the key queue and the escape-sequence tree
//   keyboard  keyboard.cpp      bytes from the tty that are not yet keys
//   reports   reports.cpp       cursor and size requests and their answers
//   modes     modes.cpp         the working modes, and the bytes of entering and leaving them
//   signals   term_signals.cpp  the dispositions, and what the handlers note
//   text      text.cpp          the encoding of the locale
#pragma once

#include <pthread.h>
#include <termios.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "runtime/term/decoder.h"
#include "runtime/term/term.h"

// --- Device: set-up and the terminal entry (term_setup.cpp) -----------------

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
  bool output_is_terminal;               // standard output is a terminal (driven or not)
  std::string* expanding;                // where tputs puts the bytes of a capability being expanded
};

// Kind 1 for "console" or a TERM beginning with "linux", else 2.
int32_t terminal_kind_for(const char* term);
// Writes a capability's expansion (or nothing) through put.
bool expand_capability(int32_t index, int32_t a, int32_t b, int (*put)(int));
// Appends a termcap string's expansion to out; false if the entry lacks it.
bool expand_into(std::string& out, const char* capability, int32_t a = 0, int32_t b = 0);
// The fixed sequences 100..106.
const char* fixed_sequence(int32_t index);

// --- Screen: the writer and geometry (screen.cpp, shadow.cpp) ---------------

// The shadow screen: the character and attribute written to each cell,
// 0-based row and column. Rows are kept once written, each up to the last
// column written; a cell never written reads 0. Its memory follows what was
// written, not the window's area.
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

struct Screen {
  int32_t cursor_column = 1;             // the tracked cursor, 1-based (the writer's rule, not clamped)
  int32_t cursor_row = 1;
  int32_t foreground_colour = 7;         // the attribute of written cells: background x 16 + foreground
  int32_t background_colour = 0;
  int32_t window_columns = 0;            // 0 until the first size refresh
  int32_t window_rows = 0;
  volatile sig_atomic_t resize_flag = 0; // the size must be read again: at set-up, by SIGWINCH, after SIGCONT
  ShadowScreen shadow;                   // what was written where
  int32_t view_top = -1;                 // 0-based; -1 until first use
  int32_t view_bottom = -1;              // 0-based; -1 until first use, then fixed
  int32_t visibility = CURSOR_VISIBLE;   // CURSOR_VISIBLE or 0: what the cursor was last made
  ResizeListener on_resize = nullptr;    // told after every size refresh
  unsigned size_generation = 0;          // counts size refreshes
};

// The size refresh; runs with the terminal mutex held.
void term_refresh_size(bool requery);

// --- Keys: the queue and the decoder (keys.cpp) -----------------------------

inline constexpr int KEY_QUEUE_SIZE = 256;
inline constexpr int32_t KEY_MOUSE_REPORT = 512;  // tree marker, never queued

struct KeyNode {
  uint8_t byte;           // the sequence byte this node matches
  uint16_t key_code;      // the key whose sequence ends here; 0 if none (scan codes reach 0x9D)
  KeyNode* next_sibling;  // same level
  KeyNode* first_child;   // next level
};

struct KeyQueue {
  int32_t slots[KEY_QUEUE_SIZE];  // queued key codes
  int32_t read_index;             // oldest queued key
  int32_t write_index;            // slot of the next push
  int32_t key_arrived;            // set by every push, cleared by key_available
  int32_t line_ends;              // queued keys that may end a line (Enter, Ctrl+D)
  KeyNode* tree;                  // escape-sequence tree after ESC; nullptr until built
  bool tree_built;
};

// ECMA-48: a CSI sequence's parameter and intermediate bytes, then its final byte.
inline bool csi_parameter_or_intermediate(uint8_t b) { return b >= 0x20 && b <= 0x3F; }
inline bool csi_final(uint8_t b) { return b >= 0x40 && b <= 0x7E; }

// Capability lookup used to build the escape-sequence tree (tgetstr by default).
using CapabilityLookup = const char* (*)(const char* id);
void key_tree_build(CapabilityLookup lookup);
void key_tree_release();
// The tree, built from the entry at first use.
const KeyNode* key_tree();

// --- Keyboard: bytes from the tty (keyboard.cpp) ----------------------------

// Milliseconds on a clock that only goes forward; replaceable so that tests
// can let time pass between the pieces of a key.
using MillisecondClock = int64_t (*)();

struct Keyboard {
  Keyboard() { decoder.set_tree_source(key_tree); }
  KeyDecoder decoder;                // the bytes that are not keys yet
  MillisecondClock clock = nullptr;  // the steady clock when none is set
  bool ended = false;                // the tty reached its end
  struct {
    uint8_t bytes[4096];
    std::size_t next, end;
    int known_waiting;               // bytes the tty still held when last asked, less those read since
  } block{};                         // what the default key reader read from the tty and has not handed on
  std::vector<uint8_t> fill;         // the bytes of one fill, on their way to the decoder
  int wake[2] = {-1, -1};            // the self-pipe: signal handlers write to it, waits watch it
};

int keyboard_read_byte();          // the default key reader: the tty, without waiting
int64_t keyboard_now_ms();
// Hands what has arrived to the decoder (never past a line end still held,
// unless a query waits), and the replies among it to the queries.
void keyboard_fill();
KeyEvent keyboard_next_event();
bool keyboard_has_pending();
// Whether keys are waiting that a reply would come behind: a line end not yet
// taken, or bytes still unread (in the tty, or read and not yet decoded).
bool keyboard_input_waiting();
// Blocks until more keyboard bytes, a signal, or the deadline (kNoDeadline: none).
void keyboard_wait_until(int64_t deadline_ms);
// Hands what the default key reader read from the tty to the decoder, without
// reading more, and takes the replies out of it (before leaving).
void keyboard_take_what_was_read();
// A byte read from the tty before the keyboard was set up: the first to come.
void keyboard_put_back(uint8_t byte);
// The self-pipe: opened while the terminal is driven; keyboard_wake is async-signal-safe.
void keyboard_open_wake_pipe();
void keyboard_close_wake_pipe();
void keyboard_wake();

// --- Reports: cursor and size requests (reports.cpp) ------------------------

enum class Report { Cursor, Size };

// When an answer was given: it is good while all three stay the same.
struct Moment {
  uint64_t output;    // writes so far
  unsigned resizes;   // window changes so far
  unsigned stops;     // continues after a stop so far
  bool operator==(const Moment&) const = default;
};

// A request of one kind and its answer.
struct Awaited {
  bool outstanding;     // a request went out and its reply has not come
  bool waited_out;      // ... and a wait for it ran out: queries do not wait for it again
  unsigned stops;       // continues when it went out: a stop forgets it (the suspend key flushes input)
  int64_t asked_ms;     // when it went out
  int64_t deadline_ms;  // the end of the wait for it
  Moment asked_at;      // when it went out: its answer holds while nothing has changed since
  bool answered;        // the reply to the last request came
  int32_t a, b;         // its values
};

struct Reports {
  Awaited cursor;
  Awaited size;
  bool waiting;         // a query waits for its reply: the keyboard reads on past line ends
};

// Asks the terminal for a report; runs with the terminal mutex held. Not
// while keys are waiting: the reply would come behind them, and reaching it
// would take keys that may belong to the shell.
bool term_query(Report report, int32_t* a, int32_t* b);
void term_query_cursor();
// A reply the decoder met; used if a request for it is outstanding.
void reports_receive(Report report, int32_t a, int32_t b);
// Takes the replies out of what the keyboard holds, while any is awaited.
void reports_take_replies();
// Before the terminal is handed back (an exit, a stop, a fatal signal): reads
// and drops the bytes up to the end of every reply still on its way, until
// kLateReplyMs after its request, so that none lands in the shell's input.
// Only poll(), read() and clock_gettime(): the signal handlers call it.
void reports_await_due_replies();

// --- Modes: entering and leaving them (modes.cpp) ---------------------------

// The bytes of entering and leaving are expanded when the modes are
// prepared, whole whatever their length, and not changed after: a signal
// handler writes them with write() alone.
struct Modes {
  std::string leaving;             // "\e(B" on the console, then "me", "ve", "ke"
  std::string entering;            // "\e(U" on the console, then "ks"
  termios working_output_modes;    // standard output: as found, with OPOST
  termios working_input_modes;     // the tty: no echo, no canonical input, no flow control
};

// Entering and leaving the working modes, written once for set-up,
// restoration, fatal signals and suspend/resume.
//   modes_prepare: after the saved modes are read; computes the working modes
//                  and expands the bytes written on entering and leaving.
//   modes_apply:   applies the working modes; false if the terminal refuses.
//   modes_enter:   modes_apply, then the entering bytes ("\e(U" on the
//                  console, "ks"); what a resume does.
//   modes_leave:   the leaving bytes ("\e(B" on the console, "me", "ve",
//                  "ke"), then the saved modes, with SIGTTOU ignored.
//                  Async-signal-safe.
void modes_prepare();
bool modes_apply();
void modes_write_entering_bytes();
void modes_enter();
void modes_leave();

// --- Signals (term_signals.cpp) ---------------------------------------------

struct Signals {
  struct sigaction saved[NSIG];        // dispositions found at set-up, by signal number
  bool installed[NSIG];                // which of them set-up replaced
  volatile sig_atomic_t fatal_in_progress;
  volatile sig_atomic_t modes_left;    // restored for a stop; enter again on continue
  volatile sig_atomic_t continued;     // counts SIGCONTs: the screen may hold anything since
  volatile sig_atomic_t resized;       // counts SIGWINCHs
  volatile sig_atomic_t feeds_to_fresh_row;  // line feeds after a carriage return that leave the line behind
  // Replies on their way, for the stop and exit paths: how many, until when
  // (steady clock, ms), and whether the bytes read so far end inside one
  // (1: after an ESC, 2: within "ESC [" and its parameters).
  volatile sig_atomic_t replies_due;
  std::atomic<int64_t> replies_due_until_ms;
  volatile sig_atomic_t reply_tail;
};

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

// --- Text (text.cpp) --------------------------------------------------------

enum class Encoding { Unknown, Bytes, Utf8 };

// --- The record -------------------------------------------------------------

struct Terminal {
  Device device;
  Screen screen;
  KeyQueue keys;
  Keyboard keyboard;
  Reports reports;
  Modes modes;
  Signals signals;
  Encoding encoding = Encoding::Unknown;  // decided at first use, from the locale start-up took
  pthread_mutex_t mutex;                  // the recursive terminal mutex, made by term_init
};
extern Terminal term;
