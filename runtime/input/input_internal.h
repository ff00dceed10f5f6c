// SPDX-License-Identifier: MIT
// What only the input layer's files share, and tests: the INPUT context (the
// layer's one record, in context slot 2), the field scanner and its input
// sources, the text-to-number routines, and the line editor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/input/edit_memory.h"
#include "runtime/input/edit_settings.h"
#include "runtime/input/input.h"
#include "runtime/print/print.h"

inline constexpr int32_t FIELD_LIMIT = 67;
inline constexpr std::size_t FIELD_BUFFER = FIELD_LIMIT + 1;
inline constexpr int END_OF_INPUT = -1;

// What the line editor keeps between lines for the run: each prompt's history
// (oldest first, at most 100 lines, none twice in a row, with the edits made
// to its lines), the kill ring, the keys a keyboard macro recorded, and the
// settings (read from the inputrc when first asked for). Nothing is stored
// between runs.
struct EditMemory {
  std::map<std::string, History, std::less<>> histories;
  KillRing kills;
  std::vector<Key> keyboard_macro;
  std::optional<EditSettings> read_settings;
  EditSettings& settings() {
    if (!read_settings) read_settings = read_edit_settings();
    return *read_settings;
  }
};

// Whether standard input is a terminal: asked once, as it decides every INPUT's path.
enum class StdinKind : uint8_t { Unknown, Terminal, Redirected };

// The record of context slot 2, shared by every INPUT statement.
struct InputContext {
  FileRecord* source;       // console record on the redirected path; nullptr on a terminal
  std::string* line_text;   // the edited line (terminal path); owned by the context
  int32_t read_position;    // index of the next byte of line_text
  bool line_ended_input;    // the line editor met the end of the input instead of Enter
  bool reached_end;         // the last field read found no byte at all left
  StdinKind stdin_kind;     // standard input a terminal or not, once asked
  EditMemory* edit_memory;  // the line editor's histories; owned by the context
};
InputContext* input_context();

// --- The field scanner and its sources ---------------------------------------

// Up to limit bytes into destination (limit + 1 bytes room).
struct FieldScan {
  int32_t length;
  bool float_mark;  // the field looks like a floating-point number
  bool at_end;      // the input was exhausted before any byte was read
};
FieldScan scan_field(InputContext* context, char* destination, int32_t limit);
int next_input_char(InputContext* context);
void push_back_char(InputContext* context, int ch);

inline bool is_blank(int ch) { return ch == ' ' || ch == '\t'; }
// The exponent letter d (or D) of a number is read as e (or E): 1d2 is 1e2.
inline char as_exponent_letter(char c) { return c == 'd' ? 'e' : (c == 'D' ? 'E' : c); }

// Whether the selected stream (STANDARD_INPUT, or 0: standard output) is a
// terminal; INPUT asks it once.
inline constexpr int STANDARD_INPUT = 1;
bool is_a_terminal(int selector);

// --- Text to number -----------------------------------------------------------

uint32_t text_to_int32(const char* text, int64_t length);
uint64_t text_to_int64(const char* text, int64_t length);
double text_to_double(const char* text, int64_t length);
uint32_t prefix_digits32(const char* text, int64_t length, int base);
uint64_t prefix_digits64(const char* text, int64_t length, int base);
int64_t double_to_int64_rounded(double value);

// --- The line editor ----------------------------------------------------------

// Returns the edited line (never fails); *ending, when given, tells how the
// line ended. The mode picks the cursor shown while waiting: the terminal's
// own, or a drawn byte 0xFF.
enum class LineEnding {
  Enter,         // the user pressed Enter; no line end is shown yet
  EnterEchoed,   // read in the terminal's own mode, which showed the line end already
  EndOfInput,    // the keyboard reached its end before any byte of the line
};
inline constexpr int32_t EDIT_WITH_TERMINAL_CURSOR = 0;
inline constexpr int32_t EDIT_WITH_SOFT_CURSOR = 1;
// prompt is what stands before the line on its row (for drawing it again);
// memory, if given, holds the histories and the kill buffer.
std::string line_edit(int32_t mode, LineEnding* ending = nullptr, std::string_view prompt = {},
                      EditMemory* memory = nullptr);
