// SPDX-License-Identifier: MIT
// The run-time's contract: the screen as the terminal writer tracks it. The
// writer's own cursor (it wraps as soon as a row is full, and is taken from
// the terminal's answers), the shadow screen (the character and attribute
// written to each cell), the view range and absolute cursor placement. The
// writer feeds it; nothing on the converter's path reads it: the line
// editor keeps its own model of the cursor (line_view.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

// The shadow screen, 0-based row and column. Rows are kept once written,
// each up to the last column written; a cell never written reads 0. Its
// memory follows what was written, not the window's area.
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

struct TrackedScreen {
  int32_t cursor_column = 1;       // 1-based (the writer's rule, not clamped)
  int32_t cursor_row = 1;
  int32_t foreground_colour = 7;   // the attribute of written cells: background x 16 + foreground
  int32_t background_colour = 0;
  ShadowScreen shadow;             // what was written where
  int32_t view_top = -1;           // 0-based; -1 until first use
  int32_t view_bottom = -1;        // 0-based; -1 until first use, then fixed
};
extern TrackedScreen term_tracked;

// What the writer feeds it: console text written from the cursor, a cursor
// moved (clamped to the window), the screen cleared, a new window size, the
// start of driving the terminal.
void tracked_write(const uint8_t* bytes, std::size_t length);
void tracked_move_to(int32_t column, int32_t row);
void tracked_cleared();
void tracked_resized(int32_t columns, int32_t rows);
void tracked_reset();
