// SPDX-License-Identifier: MIT
// A small xterm-like screen for pty tests and benchmarks: it follows the
// bytes the program writes (text with automatic margins and the late wrap,
// CR, LF, BS, the cursor motions, erasing) so that a test can answer cursor
// requests with where the cursor really is and read what the screen shows.
// Bytes it does not know (modes, colours) change nothing. A byte is a cell;
// in UTF-8 a character takes its wcwidth cells (a wide one that does not fit
// wraps first, a wide one written over in part is blanked whole), and
// zero-width marks are not kept. A screen that wraps at once (a terminal
// without the late wrap) moves on as soon as the last column is written.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class VtScreen {
 public:
  VtScreen(int columns, int rows, bool utf8 = false, bool late_wrap = true);

  void feed(std::string_view bytes);
  int column() const { return column_ + 1; }  // 1-based
  int row() const { return row_ + 1; }
  int columns() const { return columns_; }
  int rows() const { return rows_; }
  void resize(int columns, int rows);  // keeps the rows as they were, as xterm does
  std::string row_text(int row) const;  // 1-based, trailing blanks removed
  std::string text() const;             // every row, trailing empty rows removed
  // A cell (1-based): its character, " " when blank, "" for the second cell of a wide one.
  const std::string& cell(int column, int row) const {
    return cells_[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(column - 1)];
  }

 private:
  void put(const std::string& character, int width);
  void take_text_byte(char c);
  void blank(int column);  // a cell about to be written: the rest of a wide character there is blanked
  void line_feed();
  void csi(char final_byte, const std::string& parameters);

  int columns_, rows_;
  bool utf8_;
  bool late_wrap_;
  int column_ = 0, row_ = 0;
  bool wrap_pending_ = false;
  using Row = std::vector<std::string>;
  std::vector<Row> cells_;
  std::string pending_;     // the first bytes of a UTF-8 character
  enum class State { Text, Escape, Csi, Charset } state_ = State::Text;  // within an escape sequence
  std::string parameters_;  // of the CSI sequence being read
};
