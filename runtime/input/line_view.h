// SPDX-License-Identifier: MIT
// Where the edited line stands on the screen, and the drawing that keeps it
// there.
//
// The view keeps its own exact model of the terminal's cursor: the cell where
// the prompt begins, the cells of every unit of the prompt and the line (a
// wide character that would cross the right margin starts on the next row,
// and the cell it leaves is blanked), the window size, the terminal's
// last-column behaviour and every scroll its own writes cause. It moves the
// cursor relative to where the model says it is, so a key needs no answer
// from the terminal, and a row the terminal never confirmed still draws where
// the cursor really is. It asks where the cursor is only at the start of a
// line, after a window-size change and after the program was continued; with
// no answer in time it takes the column it printed to and assumes the bottom
// row, which is where the cursor stands whenever that matters (once the line
// has scrolled).
//
// The layout of the line is kept between keys and laid out again only from
// the first changed unit, so typing at the end of a long line costs the same
// as at the end of a short one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/input/input_internal.h"

class LineView {
 public:
  explicit LineView(std::string_view prompt) : prompt_(prompt) {}

  // What stands before the line: the prompt, or for a while the history
  // search's. The caller draws again (redraw).
  void set_prompt(std::string_view prompt) { prompt_ = prompt; }

  // Learns where the prompt left the cursor. A prompt that ends exactly at the
  // right margin leaves the terminal's wrap pending there: the line then
  // starts on the first cell of the next row.
  void start();
  int32_t width() const { return width_; }

  // The line changed from byte index from on: its layout is redone from there when next needed.
  void changed_from(const std::string& line, std::size_t from);

  // The cell that shows the unit at line index i (a unit boundary); index
  // line.size() is the cell after the line.
  ScreenCell cell_of(const std::string& line, std::size_t index);
  // The last unit boundary (or line.size()) whose cell is at or before cell in reading order.
  std::size_t index_at(const std::string& line, ScreenCell cell);
  // The start of the unit that ends at index.
  std::size_t unit_before(const std::string& line, std::size_t index);
  // Cells from a to b in reading order.
  int64_t cells_between(ScreenCell a, ScreenCell b) const { return linear(b) - linear(a); }

  // Shows the line from index from on (nothing before it changed since it
  // was last shown), blanks what the line showed before beyond its new end,
  // and puts the cursor on position.
  void show(const std::string& line, std::size_t from, std::size_t position);
  // Puts the cursor on the cell of line index position.
  void place_at(const std::string& line, std::size_t position);
  // Draws the prompt and the line again from the prompt's first cell, clearing
  // what lies below, and puts the cursor on position.
  void redraw(const std::string& line, std::size_t position);
  // Clears the screen and draws the prompt and the line at its top; false if the terminal cannot clear.
  bool clear_screen(const std::string& line, std::size_t position);
  // The soft cursor of a non-zero mode: the byte 0xFF written over the
  // cursor's cell with print_text, or that cell shown again; the cursor is put back.
  void show_soft_cursor(const std::string& line, std::size_t position, bool on);

  // A resize or a stop since the view last drew: the screen may not be what it drew.
  bool screen_changed() const;
  // Whether the process was stopped and continued since the view last drew.
  bool continued() const;
  // Whether to follow the change now: in the foreground, and once the window
  // has kept its size for a moment (a storm of resizes is followed once).
  // When not, *wait_ms is set to how long to wait before asking again (left
  // as it is in the background: coming back to the foreground wakes a wait).
  bool ready_to_follow(int* wait_ms);
  // Learns the new size and where the cursor is now, then draws the prompt and
  // the line again: wrapped at the new width after a resize, on a fresh row
  // after a stop (continued: the shell has written its own lines meanwhile).
  void follow_screen_change(const std::string& line, std::size_t position, bool continued);

 private:
  int64_t linear(ScreenCell cell) const { return (int64_t{cell.row} - 1) * width_ + (cell.column - 1); }
  ScreenCell cell_at(int64_t linear_cell) const { return cell_after({1, 1}, linear_cell, width_); }
  // Offsets count cells from the first cell of the prompt's first row.
  ScreenCell cell_at_offset(int64_t offset) const;
  int64_t offset_of(const std::string& line, std::size_t index);
  void lay_out_to(const std::string& line, std::size_t index);
  void forget_layout();
  void read_window();  // the window's size, at least one cell each way
  // The byte index where the unit holding index starts (the layout known that far).
  std::size_t start_of_unit(std::size_t index) const;
  void place(ScreenCell cell);
  // Writes text whose first unit begins at offset, blanking the cell a wide
  // unit leaves at the end of a row, and follows the cursor and any scroll.
  void write_text(std::string_view text, int64_t offset);
  void follow_written(int64_t from_offset, int64_t end_offset);
  void note_cursor_below(const std::string& line);
  void note_screen_seen();

  std::string prompt_;
  ScreenCell prompt_origin_{1, 1};  // the prompt's first cell; its row falls as the screen scrolls
  ScreenCell cursor_{1, 1};         // where the terminal's cursor is
  bool wrap_pending_ = false;       // the cursor stands on the last column with its wrap not yet done
  int32_t width_ = 80;
  int32_t height_ = 24;
  int64_t shown_end_ = 0;           // offset of the cell after the line as last shown
  static constexpr std::size_t kAllShown = std::string::npos;
  std::size_t unshown_from_ = kAllShown;  // the first index changed since the line was last shown
  // The layout: for each byte index that starts a unit, the offset before the
  // unit (a wide unit that would cross the margin moves on from there); for
  // other bytes kNotAStart; at line.size(), the offset after the line.
  // Entries up to valid_ are right for the line as it stands.
  std::vector<int64_t> before_;
  std::size_t valid_ = 0;
  unsigned size_generation_ = 0;    // the window size the view drew for
  unsigned continue_count_ = 0;     // the stops the view has seen
  unsigned resize_count_ = 0;       // the window changes the view has drawn for
  unsigned noticed_resizes_ = 0;    // the window changes counted when last looked
  int64_t noticed_at_ms_ = 0;       // when that count was first seen
};
