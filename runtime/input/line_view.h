// Where the edited line stands on the screen, and the drawing that keeps it
// there.
//
// The view keeps its own exact model of the terminal's cursor: the cell where
// the prompt begins, the cells of the prompt and of the line, the window
// size, the terminal's last-column behaviour and every scroll its own writes
// cause. So a key is handled with no question to the terminal; the view asks
// where the cursor is only where it cannot know: at the start of a line,
// after a window-size change and after the program was stopped and continued.
#pragma once

#include <cstdint>
#include <string>
#include <optional>
#include <string_view>

#include "runtime/input/input.h"

class LineView {
 public:
  explicit LineView(std::string_view prompt) : prompt_(prompt) {}

  // Learns where the prompt left the cursor. A prompt that ends exactly at the
  // right margin leaves the terminal's wrap pending there: the line then
  // starts on the first cell of the next row.
  void start();

  // The cell that shows line index i; index line.size() is the cell after the line.
  ScreenCell cell_of(const std::string& line, std::size_t index) const;
  int32_t width() const { return width_; }

  // Puts the cursor on a cell. The cell just past the bottom-right corner
  // scrolls the screen up a row; a cell off the screen is left alone.
  void place(ScreenCell cell);
  void place_at(const std::string& line, std::size_t index) { place(cell_of(line, index)); }
  // Something else moved the cursor: the next placement is sent whatever the model says.
  void forget_cursor() { cursor_.reset(); }
  // Writes line[from, to) from the cursor, which stands on cell_of(line, from).
  void write_line(const std::string& line, std::size_t from, std::size_t to);
  // Writes blanks over cells from the cursor, which stands on from.
  void write_blanks(std::size_t cells, ScreenCell from);
  // Draws the prompt and the line again from the prompt's first cell, clearing
  // what lies below, and puts the cursor on line index position.
  void redraw(const std::string& line, std::size_t position);

  // A resize or a stop since the view last looked: the screen may not be what it drew.
  bool screen_changed() const;
  // Learns the new size and where the cursor is now, then draws the prompt and
  // the line again: wrapped at the new width after a resize, on a fresh row
  // after a stop (the shell has written its own lines meanwhile).
  void follow_screen_change(const std::string& line, std::size_t position);

 private:
  void write_cells(const char* bytes, std::size_t length, std::size_t cells, ScreenCell from);
  void note_screen_seen();

  std::string prompt_;
  ScreenCell prompt_origin_{1, 1};  // the prompt's first cell; its row falls as the screen scrolls
  std::optional<ScreenCell> cursor_;  // where the terminal's cursor is, when the view knows it
  int32_t width_ = 80;
  int32_t height_ = 24;
  unsigned size_generation_ = 0;    // the window size the view drew for
  unsigned continue_count_ = 0;     // the stops the view has seen
};
