// Where the edited line stands on the screen, and the drawing that keeps it
// there.
//
// The view keeps its own exact model of the terminal's cursor: the cell where
// the prompt begins, the cells of every unit of the prompt and the line (a
// wide character that would cross the right margin starts on the next row),
// the window size, the terminal's last-column behaviour and every scroll its
// own writes cause. So a key is handled with no question to the terminal;
// the view asks where the cursor is only where it cannot know: at the start
// of a line, after a window-size change and after the program was stopped
// and continued.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/input/input.h"

class LineView {
 public:
  explicit LineView(std::string_view prompt) : prompt_(prompt) {}

  // Learns where the prompt left the cursor. A prompt that ends exactly at the
  // right margin leaves the terminal's wrap pending there: the line then
  // starts on the first cell of the next row.
  void start();
  int32_t width() const { return width_; }

  // The cell that shows the unit at line index i; index line.size() is the
  // cell after the line.
  ScreenCell cell_of(const std::string& line, std::size_t index) const;
  // The last index (a unit boundary, or line.size()) whose cell is at or
  // before cell in reading order.
  std::size_t index_at(const std::string& line, ScreenCell cell) const;
  // Cells from a to b in reading order.
  int64_t cells_between(ScreenCell a, ScreenCell b) const { return linear(b) - linear(a); }

  // Puts the cursor on a cell. The cell just past the bottom-right corner
  // scrolls the screen up a row; a cell off the screen is left alone.
  void place(ScreenCell cell);
  void place_at(const std::string& line, std::size_t index) { place(cell_of(line, index)); }
  // Something else moved the cursor: the next placement is sent whatever the model says.
  void forget_cursor() { cursor_.reset(); }

  // After an edit: shows line[from, end), blanks what the old line showed
  // beyond the new end up to old_end (the cell after the old line), and puts
  // the cursor on position.
  void show_from(const std::string& line, std::size_t from, ScreenCell old_end, std::size_t position);
  // Draws the prompt and the line again from the prompt's first cell, clearing
  // what lies below, and puts the cursor on position.
  void redraw(const std::string& line, std::size_t position);
  // Clears the screen and draws the prompt and the line at its top; false if the terminal cannot clear.
  bool clear_screen(const std::string& line, std::size_t position);

  // A resize or a stop since the view last looked: the screen may not be what it drew.
  bool screen_changed() const;
  // Learns the new size and where the cursor is now, then draws the prompt and
  // the line again: wrapped at the new width after a resize, on a fresh row
  // after a stop (the shell has written its own lines meanwhile).
  void follow_screen_change(const std::string& line, std::size_t position);

 private:
  int64_t linear(ScreenCell cell) const { return (int64_t{cell.row} - 1) * width_ + (cell.column - 1); }
  ScreenCell cell_at(int64_t linear_cell) const { return cell_after({1, 1}, linear_cell, width_); }
  // Cells from the start of the prompt's first row to the cell of line index
  // position, laid out at the given width.
  int64_t offset_of(const std::string& line, std::size_t position, int32_t width) const;
  void write_text(std::string_view bytes, ScreenCell from);
  void note_screen_seen();

  std::string prompt_;
  ScreenCell prompt_origin_{1, 1};    // the prompt's first cell; its row falls as the screen scrolls
  std::optional<ScreenCell> cursor_;  // where the terminal's cursor is, when the view knows it
  int32_t width_ = 80;
  int32_t height_ = 24;
  unsigned size_generation_ = 0;      // the window size the view drew for
  unsigned continue_count_ = 0;       // the stops the view has seen
};
