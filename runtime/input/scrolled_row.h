// SPDX-License-Identifier: MIT
// One row that scrolls sideways instead of wrapping (readline's
// horizontal-scroll-mode): which cells of the prompt and the line it shows.
// The window moves only when the cursor would leave it, by two thirds of
// the row, and "<" and ">" stand in its first and last cells while more lies
// beyond them. No I/O: tested directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class ScrolledRow {
 public:
  // The row as drawn: what each cell is sent ("" for the second cell of a
  // wide unit), and the cursor's cell (0-based).
  struct Shown {
    std::vector<std::string> cells;
    int32_t cursor = 0;
  };

  // Lays out lead (what stands before the line on this row: the prompt)
  // and the line in a row of cells cells, following the cursor at line
  // index position. The row never reaches further than cells.
  Shown lay_out(std::string_view lead, std::string_view line, std::size_t position, int32_t cells);
  // The window back at the start: a new line.
  void reset() { margin_ = 0; }

 private:
  int64_t margin_ = 0;  // the cell of lead and line that the row's first cell shows
};
