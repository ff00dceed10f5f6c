// SPDX-License-Identifier: MIT
// The terminal writer and the window: console text written (and fed to the
// tracked screen), the window size, the cursor moved relative to where it is,
// clearing. The report queries behind the size are in reports.cpp.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "runtime/stream/stream.h"
#include "runtime/term/screen/window.h"
#include "runtime/term/term_internal.h"
#include "runtime/term/screen/tracked_screen.h"

TermWindow term_window;

namespace {

constexpr int32_t kDefaultColumns = 80;
constexpr int32_t kDefaultRows = 25;
// Control bytes shown as font glyphs instead of acted upon: 8, 12, 14, 15, 27.
constexpr uint32_t kGlyphMask = 0x0800D101;

}  // namespace

// --- Window size -------------------------------------------------------------

void screen_reset() {
  term_window = TermWindow{};
  term_tracked = TrackedScreen{};
}

void term_set_window(int32_t columns, int32_t rows) {
  tracked_resized(columns, rows);  // the tracked screen keeps its top-left part that still fits
  term_window.window_columns = columns;
  term_window.window_rows = rows;
}

namespace {

// The size as the terminal reports it, when the kernel cannot tell.
bool asked(SizeAsker ask_terminal, winsize* size) {
  int32_t rows = 0, columns = 0;
  if (!ask_terminal(&columns, &rows) || rows <= 0 || rows > 0xFFFF || columns <= 0 || columns > 0xFFFF) return false;
  size->ws_row = static_cast<unsigned short>(rows);
  size->ws_col = static_cast<unsigned short>(columns);
  return true;
}

}  // namespace

void term_refresh_size(SizeAsker ask_terminal) {
  if (!take_size_stale()) return;  // taken before reading: a change from now on is read next time
  winsize size{};
  const bool known = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 || (ask_terminal != nullptr && asked(ask_terminal, &size));
  if (!known && ask_terminal == nullptr) {
    note_size_stale();                            // the next size read outside a write asks the terminal
    if (term_window.window_columns != 0) return;  // until then the size stays; before any, the default
  }
  int32_t rows = size.ws_row;
  int32_t columns = size.ws_col;
  if (rows == 0 || columns == 0) {
    rows = kDefaultRows;
    columns = kDefaultColumns;
  }
  term_set_window(columns, rows);
  ++term_window.size_generation;
  if (term_window.on_resize != nullptr) term_window.on_resize(columns);
}

bool term_resize_pending() { return handling_active() && size_stale(); }
unsigned term_size_generation() { return term_window.size_generation; }
bool term_wraps_late() { return term.device.late_wrap; }

void term_set_resize_listener(ResizeListener listener) { term_window.on_resize = listener; }

// --- Writer ------------------------------------------------------------------

namespace {

// Collects output bytes and hands them to standard output in blocks.
class OutputBlock {
 public:
  ~OutputBlock() { flush(); }
  void put(uint8_t byte) {
    if (used_ == sizeof bytes_) flush();
    bytes_[used_++] = byte;
  }
  void flush() {
    if (used_ != 0) stream_output(bytes_, used_);
    used_ = 0;
  }

 private:
  uint8_t bytes_[512];
  std::size_t used_ = 0;
};

// The Linux console shows the glyph of a control byte through the font range
// U+F000: switch to UTF-8, write U+F000 + byte, switch back.
void put_glyph(OutputBlock& out, uint8_t byte) {
  for (uint8_t b : {0x1B, 0x25, 0x47, 0xEF, 0x80}) out.put(b);
  out.put(static_cast<uint8_t>(byte | 0x80));
  for (uint8_t b : {0x1B, 0x25, 0x40}) out.put(b);
}

}  // namespace

void term_write(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (!handling_active()) {
    if (length != 0) stream_output(bytes, length);
    stream_output_done();
    return;
  }
  if (length != 0) term_set_feeds_to_fresh_row(bytes[length - 1] == '\n' ? 0 : 1);
  {
    TermLock lock;
    term_refresh_size();
  }
  tracked_write(bytes, length);
  {
    OutputBlock out;
    for (std::size_t i = 0; i < length; ++i) {
      const uint8_t byte = bytes[i];
      if (byte == 0) {
        out.put(' ');
      } else if (byte < 32 && ((kGlyphMask >> byte) & 1) != 0) {
        put_glyph(out, byte);
      } else {
        out.put(byte);
      }
    }
  }
  stream_output_done();
}

void term_set_cursor_visibility(int32_t visibility) {
  if (visibility == CURSOR_HIDE) {
    term_emit(CAP_CURSOR_HIDDEN, 0, 0);
    term.device.cursor_shown = false;
  } else if (visibility == CURSOR_SHOW) {
    term_emit(CAP_CURSOR_NORMAL, 0, 0);
    term.device.cursor_shown = true;
  }
}

bool term_cursor_visible() { return term.device.cursor_shown; }

bool term_clear_to_end_of_row() { return term_emit(CAP_CLEAR_EOL, 0, 0); }

bool term_clear_screen() {
  if (!term_emit(CAP_CLEAR, 0, 0)) return false;
  tracked_cleared();
  return true;
}

namespace {

// Appends count steps, in the shorter of the counted form (its count is the
// row argument of tgoto) and the single step count times; false when the
// entry has neither.
bool append_steps(std::string& out, Motion counted, Motion step, int32_t count) {
  if (count <= 0) return true;
  std::string by, steps;
  const bool counted_done = expand_into(by, term.device.motions[counted], 0, count);
  bool steps_done = false;
  for (int32_t i = 0; i < count && (!counted_done || steps.size() < by.size()); ++i) {
    if (!expand_into(steps, term.device.motions[step])) break;
    steps_done = i + 1 == count;
  }
  if (!counted_done && !steps_done) return false;
  out += steps_done && (!counted_done || steps.size() <= by.size()) ? steps : by;
  return true;
}

// A move along the row, the shortest way: steps left (a backspace on most
// terminals), or a carriage return and steps right, or steps right.
bool append_along_row(std::string& out, int32_t from_column, int32_t to_column) {
  if (to_column >= from_column) return append_steps(out, MOTION_RIGHT_BY, MOTION_RIGHT, to_column - from_column);
  std::string left, back = "\r";
  const bool left_done = append_steps(left, MOTION_LEFT_BY, MOTION_LEFT, from_column - to_column);
  const bool back_done = append_steps(back, MOTION_RIGHT_BY, MOTION_RIGHT, to_column - 1);
  if (!left_done && !back_done) return false;
  out += left_done && (!back_done || left.size() <= back.size()) ? left : back;
  return true;
}

}  // namespace

void term_move_cursor(const CursorMove& move) {
  if (!handling_active()) return;
  std::string out;
  const int32_t rows = move.to_row - move.from_row;
  bool stepped = true;
  if (rows == 0 && !move.wrap_pending) {
    stepped = append_along_row(out, move.from_column, move.to_column);
  } else {
    // A carriage return starts a move to another row (a line feed may mean
    // one, where the terminal adds it) and ends a pending wrap.
    out.push_back('\r');
    if (rows > 0) out.append(static_cast<std::size_t>(rows), '\n');  // scrolls at the bottom row
    if (rows < 0) stepped = append_steps(out, MOTION_UP_BY, MOTION_UP, -rows);
    if (stepped) stepped = append_steps(out, MOTION_RIGHT_BY, MOTION_RIGHT, move.to_column - 1);
  }
  TermLock lock;
  term_refresh_size();
  const int32_t row = std::clamp(move.to_row, 1, std::max(term_window.window_rows, 1));
  if (stepped) {
    stream_output(out.data(), out.size());
    stream_output_done();
  } else {
    term_emit(CAP_CURSOR_MOTION, move.to_column - 1, row - 1);  // an entry without the steps
  }
  tracked_move_to(move.to_column, row);
}

HeldOutput::HeldOutput() {
  if (term.device.output_held++ == 0) term.device.held_continues = term_continue_count();
}

HeldOutput::~HeldOutput() {
  if (--term.device.output_held != 0) return;
  if (term.device.held_continues != term_continue_count()) {
    stream_discard_output();
  } else {
    stream_output_done();
  }
}

bool term_clear_below() {
  if (!handling_active() || term.device.motions[MOTION_CLEAR_BELOW] == nullptr) return false;
  std::string out;
  expand_into(out, term.device.motions[MOTION_CLEAR_BELOW]);
  stream_output(out.data(), out.size());
  stream_output_done();
  return true;
}
