// SPDX-License-Identifier: MIT
// A small xterm-like screen for pty tests and benchmarks: it follows the
// bytes the program writes (text with automatic margins and the late wrap,
// CR, LF, BS, the cursor motions, erasing) so that a test can answer cursor
// requests with where the cursor really is and read what the screen shows.
// Bytes it does not know (modes, colours) change nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class VtScreen {
 public:
  VtScreen(int columns, int rows);

  void feed(std::string_view bytes);
  int column() const { return column_ + 1; }  // 1-based
  int row() const { return row_ + 1; }
  int columns() const { return columns_; }
  int rows() const { return rows_; }
  void resize(int columns, int rows);  // keeps the rows as they were, as xterm does
  std::string row_text(int row) const;  // 1-based, trailing blanks removed
  std::string text() const;             // every row, trailing empty rows removed

 private:
  void put(char c);
  void line_feed();
  void csi(char final_byte, const std::string& parameters);

  int columns_, rows_;
  int column_ = 0, row_ = 0;
  bool wrap_pending_ = false;
  std::vector<std::string> cells_;
  enum class State { Text, Escape, Csi, Charset } state_ = State::Text;  // within an escape sequence
  std::string parameters_;  // of the CSI sequence being read
};
