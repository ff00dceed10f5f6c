// SPDX-License-Identifier: MIT
// Fixtures shared by the tests, the fuzz targets and the benchmarks: an
// invented terminal, an in-memory file record, and the shadow screen as text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/print/print.h"
#include "runtime/term/keyboard/keyboard.h"
#include "runtime/term/lifecycle/lifecycle.h"
#include "runtime/term/questions/reports.h"
#include "runtime/term/screen/window.h"
#include "runtime/term/term_internal.h"
#include "runtime/term/screen/tracked_screen.h"

// While alive, the terminal layer believes it drives a terminal of kind 2
// with xterm-like "cm", "bl", "ve", "vi" and "ks", whose keyboard bytes come
// from reader and whose key strings (if keys is given) from keys. Everything
// it changes in the terminal layer's state is put back afterwards.
class InventedTerminal {
 public:
  explicit InventedTerminal(KeyReader reader, CapabilityLookup keys = nullptr);
  ~InventedTerminal();
  InventedTerminal(const InventedTerminal&) = delete;
  InventedTerminal& operator=(const InventedTerminal&) = delete;

  // Builds the key tree again from another entry.
  static void use_keys(CapabilityLookup keys);
  // The window's size, as a size refresh would find it (with no refresh pending).
  static void set_window(int columns, int rows);

 private:
  Device saved_device_;
  TermWindow saved_screen_;
  TrackedScreen saved_tracked_;
};

// Makes the terminal layer decide the encoding again (after the test changed the locale).
void forget_encoding();

// The keyboard as a script of bytes and gaps, for the key decoder and the
// line editor: GAP is a moment with nothing pending (2 ms pass, as between
// two reads of one key over a slow link), STALL a longer one (150 ms: more
// than the escape delay, less than the sequence limit, as a congested link
// holds bytes back), PAUSE a long one (every wait for the rest of a sequence
// runs out). When the script is used up the keyboard ends. Feeding a script
// sets the keyboard's clock to the script's own.
namespace key_script {
inline constexpr int GAP = -1;
inline constexpr int PAUSE = -2;
inline constexpr int STALL = -3;
void feed(std::vector<int> bytes);
int reader();  // the key reader to invent a terminal with
bool used_up();
// Keys as typed one at a time (a pause between keys) or in one burst: text
// is typed as it stands (a UTF-8 character as one key), and <name> is a key
// as xterm sends it in keypad mode: <left> <right> <up> <down> <home> <end>
// <del> <bs> <tab> <esc> <enter> <f1> <pgup> <ins> <btab>, <c-x> for Ctrl
// with a letter, <m-x> for Alt with a letter, <m-c-x> for both, <m-bs>, <c-left> <c-right>
// <c-up> <m-left> <m-up> as xterm's modifier sequences, <urxvt-m-left> (ESC
// ESC [ D), <linux-f1> (ESC [ [ A), <m-gt> (Alt+>), <stalled-left> (ESC, a
// STALL, O D; any key so, <stalled-c-del>), the keypad in application mode (<kp-minus> <kp-4> <kp-0>
// <kp-point> <kp-enter>) and keys in the CSI u and modifyOtherKeys forms
// (<u-c-a> <u-esc> <u-enter> <u-eacute> <mok-c-e>), <c-del> as xterm sends Ctrl+Delete,
// and a bracketed paste's marks (<paste> </paste>).
std::vector<int> typed(std::string_view keys, bool burst = false);
// An xterm-like entry's key strings, for InventedTerminal.
const char* xterm_keys(const char* id);
}  // namespace key_script

// A file record whose read operation serves bytes from memory: once, or round
// and round when repeat is set.
struct MemorySource {
  FileRecord record{};      // first member: the read operation finds the source through it
  OperationTable table{};
  std::string data;
  std::size_t position = 0;
  bool repeat = false;

  explicit MemorySource(std::string bytes, bool repeat = false);
  MemorySource(const MemorySource&) = delete;
  MemorySource& operator=(const MemorySource&) = delete;
};

// For fuzz targets: TERM unset, standard input and output on /dev/null, then
// the run-time started as the program starts it.
void start_runtime_quietly();

// The character plane of the shadow screen, a line per row, with '.' for a
// cell never written: for the message of a failing test.
std::string shadow_screen_text();
