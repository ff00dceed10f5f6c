// SPDX-License-Identifier: MIT
// The keyboard room inside: the queue of decoded keys and the tree of
// the entry's key sequences (key_queue.cpp), and the keyboard, which reads the tty
// and hands its bytes to the decoder (tty_keyboard.cpp).
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/term/keyboard/decoder.h"

// --- The key queue and the sequence tree (key_queue.cpp) -------------------------

inline constexpr int KEY_QUEUE_SIZE = 256;
struct KeyQueue {
  Key slots[KEY_QUEUE_SIZE];      // queued keys
  int32_t read_index;             // oldest queued key
  int32_t write_index;            // slot of the next push
  int32_t key_arrived;            // set by every push, cleared by read_key_and_report_arrival
  int32_t line_ends;              // queued keys that may end a line (Enter, Ctrl+D)
};
extern KeyQueue term_key_queue;

// The entry's key sequences after ESC, as a tree the decoder walks.
struct KeySequenceTree {
  KeyNode* root = nullptr;  // nullptr until built, or for an entry with no keys
  bool built = false;
};
extern KeySequenceTree term_key_tree;

// Capability lookup used to build the escape-sequence tree (tgetstr by default).
using CapabilityLookup = const char* (*)(const char* id);
void key_tree_build(CapabilityLookup lookup);
void key_tree_release();
// The tree, built from the entry at first use.
const KeyNode* key_tree();

// --- Keyboard: bytes from the tty (tty_keyboard.cpp) ----------------------------

// Milliseconds on a clock that only goes forward; replaceable so that tests
// can let time pass between the pieces of a key.
using MillisecondClock = int64_t (*)();

// Where the keyboard hands the replies it finds among the keys: the
// questions' tracker, wired at set-up (the keyboard asks nothing itself).
using ReplyListener = void (*)(const KeyEvent& reply);

struct Keyboard {
  Keyboard() { decoder.set_tree_source(key_tree); }
  KeyDecoder decoder;                // the bytes that are not keys yet
  MillisecondClock clock = nullptr;  // the steady clock when none is set
  ReplyListener on_reply = nullptr;  // told of every reply found
  int replies_expected = 0;          // replies on their way, as the questions said last
  volatile sig_atomic_t reply_tail = 0;       // the undecoded bytes' end, as a ReplyScanner's state
  volatile sig_atomic_t escape_reported = 0;  // the kitty protocol is on: Escape comes as a sequence
  bool ended = false;                // the tty reached its end
  bool past_line_ends = false;       // a query waits for a reply: read on past line ends
  struct {
    uint8_t bytes[4096];
    std::size_t next, end;
    int known_waiting;               // bytes the tty still held when last asked, less those read since
  } block{};                         // what the default key reader read from the tty and has not handed on
  std::vector<uint8_t> fill;         // the bytes of one fill, on their way to the decoder
};
extern Keyboard term_keyboard;

// The key queue, the sequence tree and the keyboard as at program start.
void keyboard_reset();
void keyboard_set_reply_listener(ReplyListener listener);
// Whether the tty reached its end (keys may still wait in the decoder).
bool keyboard_reached_end();
int keyboard_read_byte();          // the default key reader: the tty, without waiting
int64_t keyboard_now_ms();
// Hands what has arrived to the decoder (never past a line end still held,
// unless told to read past them), and the replies due among it to the
// report tracker.
void keyboard_fill();
// While a query waits for its reply, which may stand behind a line end not
// yet taken, the keyboard reads on past line ends.
void keyboard_read_past_line_ends(bool on);
// What the questions tell the keyboard: how many replies are on their way
// and until when a lone ESC may begin one; how long the last reply took
// (the link's delay, which lengthens the escape wait).
void keyboard_expect_replies(int count, int64_t wait_end_ms);
void keyboard_reply_took(int64_t ms);
// Where the bytes read but not decoded end, for a ReplyScanner of the signal
// paths; async-signal-safe.
int keyboard_reply_tail();
// Whether the terminal reports Escape as a sequence (the kitty protocol is
// on); async-signal-safe: the line's modes change it from the handlers.
void keyboard_report_escape(bool on);
// A key the terminal sent as a code (the kitty protocol) that the kernel
// raises a signal for when typed as its byte (Ctrl+C, Ctrl+Z, Ctrl+\): that
// signal is raised; true then.
bool keyboard_raise_signal_for(const Key& key);
// Takes the escape wait from ESCDELAY, where it is set (at set-up).
void keyboard_read_escape_delay();
// The next key the decoder gives, or an event that is not a key (none, or a
// sequence still arriving); replies on the way go to the report tracker.
KeyEvent keyboard_next_event();
bool keyboard_has_pending();
// Whether keys are waiting that a reply would come behind: a line end not yet
// taken, or bytes still unread (in the tty, or read and not yet decoded).
bool keyboard_input_waiting();
// The keys read but not taken (queued, or bytes still undecoded), as the
// terminal sent them as far as that is known (a key of several bytes is
// left out): what the shell should read when the program ends.
std::string keyboard_untaken_bytes();
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
