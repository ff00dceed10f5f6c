// SPDX-License-Identifier: MIT
// The terminal writer and screen geometry: the shadow screen, the window size,
// the cursor position and cursor placement. The report queries behind the
// last two are in reports.cpp.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "runtime/term/term.h"
#include "runtime/term/term_internal.h"
#include "runtime/stream/stream.h"


namespace {

constexpr int32_t kDefaultColumns = 80;
constexpr int32_t kDefaultRows = 25;
// Control bytes shown as font glyphs instead of acted upon: 8, 12, 14, 15, 27.
constexpr uint32_t kGlyphMask = 0x0800D101;

bool handling_active() { return term.device.kind != TERM_KIND_OFF; }

}  // namespace

// --- Window size and shadow screen -----------------------------------------

namespace {

// The new size, with the shadow screen's top-left part that still fits.
void resize_shadow(int32_t columns, int32_t rows) {
  term.screen.shadow.resize(columns, rows);
  term.screen.window_columns = columns;
  term.screen.window_rows = rows;
}

}  // namespace

// Re-reads the window size after a change; runs with the terminal mutex held.
void term_refresh_size(bool requery) {
  if (!term.screen.resize_flag) return;
  term.screen.resize_flag = 0;
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
    int32_t rows = 0, columns = 0;
    if (term_query(Report::Size, &rows, &columns) && rows > 0 && rows <= 0xFFFF && columns > 0 &&
        columns <= 0xFFFF) {
      size.ws_row = static_cast<unsigned short>(rows);
      size.ws_col = static_cast<unsigned short>(columns);
    }
  }
  int32_t rows = size.ws_row;
  int32_t columns = size.ws_col;
  if (rows == 0 || columns == 0) {
    rows = kDefaultRows;
    columns = kDefaultColumns;
  }
  resize_shadow(columns, rows);
  ++term.screen.size_generation;
  if (requery) term_query_cursor();
  if (term.screen.on_resize != nullptr) term.screen.on_resize();
}

bool term_resize_pending() { return handling_active() && term.screen.resize_flag != 0; }
unsigned term_size_generation() { return term.screen.size_generation; }
bool term_wraps_late() { return term.device.late_wrap; }

void term_set_resize_listener(ResizeListener listener) { term.screen.on_resize = listener; }

// --- Writer ------------------------------------------------------------------

namespace {

// Stores the bytes as one linear run from the cursor's cell.
// A character of several bytes fills its cells with its first byte and zeros.
void copy_to_shadow(const uint8_t* bytes, std::size_t length) {
  const int64_t columns = term.screen.window_columns;
  const int64_t offset = (int64_t{term.screen.cursor_row} - 1) * columns + (term.screen.cursor_column - 1);
  const int64_t room = columns * term.screen.window_rows - offset;
  if (offset < 0 || room <= 0) return;
  const auto attribute = static_cast<uint8_t>((term.screen.background_colour << 4) | term.screen.foreground_colour);
  if (!term_text_utf8()) {
    term.screen.shadow.put(offset, bytes, static_cast<std::size_t>(std::min<uint64_t>(length, static_cast<uint64_t>(room))),
               attribute);
    return;
  }
  const std::string_view text(reinterpret_cast<const char*>(bytes), length);
  int64_t cell = offset;
  for (std::size_t at = 0; at < length && cell < offset + room;) {
    const TextUnit character = text_character_at(text, at);
    for (int i = 0; i < character.cells && cell < offset + room; ++i, ++cell) {
      const uint8_t shown = i == 0 ? bytes[at] : 0;
      term.screen.shadow.put(cell, &shown, 1, attribute);
    }
    at += character.length;
  }
}

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

// One cell further; a line feed, or reaching the last column, advances a line.
void advance_cursor(bool line_feed) {
  term.screen.cursor_column += 1;
  if (line_feed || term.screen.cursor_column >= term.screen.window_columns) {
    term.screen.cursor_column = 1;
    term.screen.cursor_row = std::min(term.screen.cursor_row + 1, term.screen.window_rows);
  }
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
    term_refresh_size(true);
  }
  if (length != 0) copy_to_shadow(bytes, length);
  {
    OutputBlock out;
    const std::string_view text(static_cast<const char*>(data), length);
    std::size_t next_character = 0;
    for (std::size_t i = 0; i < length; ++i) {
      const uint8_t byte = bytes[i];
      if (byte == 0) {
        out.put(' ');
      } else if (byte < 32 && ((kGlyphMask >> byte) & 1) != 0) {
        put_glyph(out, byte);
      } else {
        out.put(byte);
      }
      // The cursor moves by the cells of each character, at its first byte.
      if (i == next_character) {
        const TextUnit character = text_character_at(text, i);
        for (int cell = 0; cell < character.cells; ++cell) advance_cursor(byte == '\n');
        next_character = i + character.length;
      }
    }
  }
  stream_output_done();
}

namespace {

// A pair of the screen's numbers: a fixed answer when handling is off, else
// read under the mutex after the size is brought up to date. The cursor is
// asked of the terminal first; for the window size the refresh asks it.
void screen_pair(int32_t* first, int32_t* second, std::pair<int32_t, int32_t> when_off, bool cursor,
                 const int32_t& first_field, const int32_t& second_field) {
  auto [a, b] = when_off;
  if (handling_active()) {
    TermLock lock;
    term_refresh_size(!cursor);
    if (cursor) term_query_cursor();
    a = first_field;
    b = second_field;
  }
  if (first != nullptr) *first = a;
  if (second != nullptr) *second = b;
}

}  // namespace

void term_window_size(int32_t* columns, int32_t* rows) {
  screen_pair(columns, rows, {80, 24}, false, term.screen.window_columns, term.screen.window_rows);
}

void term_cursor_position(int32_t* column, int32_t* row) {
  screen_pair(column, row, {1, 1}, true, term.screen.cursor_column, term.screen.cursor_row);
}

int32_t term_cursor_column() {
  int32_t column = 1;
  term_cursor_position(&column, nullptr);
  return column;
}

int32_t view_top() {
  if (term.screen.view_top == -1) term.screen.view_top = 0;
  return term.screen.view_top;
}

int32_t view_bottom() {
  if (term.screen.view_bottom == -1) {
    int32_t rows = 0;
    term_window_size(nullptr, &rows);
    term.screen.view_bottom = rows == 0 ? 24 : rows - 1;
  }
  return term.screen.view_bottom;
}

void view_range(int32_t* first, int32_t* last) {
  *first = view_top() + 1;
  *last = view_bottom() + 1;
}

int32_t term_place_cursor(int32_t row, int32_t column, int32_t visibility) {
  if (!handling_active()) return 0;
  if (row <= 0 || column <= 0) {
    int32_t current_column = 1, current_row = 1;
    term_cursor_position(&current_column, &current_row);
    if (column <= 0) column = current_column;
    if (row <= 0) row = current_row;
  }
  TermLock lock;
  term_refresh_size(true);
  term.screen.cursor_column = std::min(column, term.screen.window_columns);
  term.screen.cursor_row = std::min(row, term.screen.window_rows);
  term_emit(CAP_CURSOR_MOTION, column - 1, row - 1);
  term_set_cursor_visibility(visibility);
  return pack_cursor(column, row, term.screen.visibility);
}

void term_set_cursor_visibility(int32_t visibility) {
  if (visibility == CURSOR_HIDE) {
    term_emit(CAP_CURSOR_HIDDEN, 0, 0);
    term.screen.visibility = 0;
  } else if (visibility == CURSOR_SHOW) {
    term_emit(CAP_CURSOR_NORMAL, 0, 0);
    term.screen.visibility = CURSOR_VISIBLE;
  }
}

bool term_cursor_visible() { return term.screen.visibility == CURSOR_VISIBLE; }

bool term_clear_to_end_of_row() { return term_emit(CAP_CLEAR_EOL, 0, 0); }

bool term_clear_screen() {
  if (!term_emit(CAP_CLEAR, 0, 0)) return false;
  term.screen.cursor_column = term.screen.cursor_row = 1;
  term.screen.shadow.clear();  // nothing written is left
  term.screen.shadow.resize(term.screen.window_columns, term.screen.window_rows);
  return true;
}

namespace {

// Appends count steps: the counted form where the entry has one (its count is
// the row argument of tgoto), else the single step count times.
bool append_steps(std::string& out, Motion counted, Motion step, int32_t count) {
  if (count <= 0) return true;
  bool done = expand_into(out, term.device.motions[counted], 0, count);
  for (int32_t i = 0; !done && i < count; ++i) {
    if (!expand_into(out, term.device.motions[step])) break;
    done = i + 1 == count;
  }
  return done;
}

}  // namespace

void term_move_cursor(const CursorMove& move) {
  if (!handling_active()) return;
  std::string out;
  int32_t column = move.from_column;
  const int32_t rows = move.to_row - move.from_row;
  // A carriage return starts every move but one along the row to the right:
  // it also ends a pending wrap.
  if (rows != 0 || move.wrap_pending || move.to_column < column) {
    out.push_back('\r');
    column = 1;
  }
  bool stepped = true;
  if (rows > 0) out.append(static_cast<std::size_t>(rows), '\n');  // scrolls at the bottom row
  if (rows < 0) stepped = append_steps(out, MOTION_UP_BY, MOTION_UP, -rows);
  if (stepped) stepped = append_steps(out, MOTION_RIGHT_BY, MOTION_RIGHT, move.to_column - column);
  TermLock lock;
  term_refresh_size(true);
  const int32_t row = std::clamp(move.to_row, 1, std::max(term.screen.window_rows, 1));
  if (stepped) {
    stream_output(out.data(), out.size());
    stream_output_done();
  } else {
    term_emit(CAP_CURSOR_MOTION, move.to_column - 1, row - 1);  // an entry without the steps
  }
  term.screen.cursor_column = std::min(move.to_column, term.screen.window_columns);
  term.screen.cursor_row = row;
}

bool term_clear_below() {
  if (!handling_active() || term.device.motions[MOTION_CLEAR_BELOW] == nullptr) return false;
  std::string out;
  expand_into(out, term.device.motions[MOTION_CLEAR_BELOW]);
  stream_output(out.data(), out.size());
  stream_output_done();
  return true;
}
