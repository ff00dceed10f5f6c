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
// When the prompt and the line need more rows than the window has, the
// screen is a window onto them: the rows around the cursor. Rows that
// scrolled away above are never drawn again (the terminal cannot reach
// them); when the cursor moves above the first row shown, the rows are
// brought back into the window and drawn. An edit draws only the cells from
// the change to the end of the window, so a key costs what the window costs
// whatever the line's length. On a terminal that wraps at once, the
// bottom-right cell is never written (writing it would scroll).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/input/input_internal.h"
#include "runtime/input/line_layout.h"
#include "runtime/input/scrolled_row.h"

// A cell of the screen, 1-based. cell_after: the cell `cells` cells after
// `from`, counting row by row at the window width (floor division: moving
// left from column 1 gives the last column of the row above).
struct ScreenCell {
  int32_t column;
  int32_t row;
};
ScreenCell cell_after(ScreenCell from, int64_t cells, int32_t width);

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
  // One row that scrolls sideways instead of rows that wrap (readline's
  // horizontal-scroll-mode); chosen before start. Offsets then count the
  // cells of one unending row.
  void set_scrolls_sideways(bool on) { sideways_ = on; }
  bool scrolls_sideways() const { return sideways_; }

  // The line's bytes [at, at + removed) were replaced by inserted bytes (at
  // a unit's start in the line before, when the caller knows it); or the
  // whole line is another. Shown at the next show.
  void changed(const std::string& line, std::size_t at, std::size_t removed, std::size_t inserted,
               bool at_unit_start = false);
  void replaced();

  // Offsets count cells from the first cell of the prompt's first row.
  // The offset of the cell that shows the unit at line index i (a unit
  // boundary); index line.size() is the cell after the line.
  int64_t offset_of(const std::string& line, std::size_t index) { return layout_.offset_of(line, index); }
  // The last unit boundary (or line.size()) whose cell is at or before offset.
  std::size_t index_at(const std::string& line, int64_t offset) { return layout_.index_at(line, offset); }
  // The start of the unit that ends at index; of the unit that holds byte index.
  std::size_t unit_before(const std::string& line, std::size_t index) { return layout_.unit_before(line, index); }
  std::size_t unit_holding(const std::string& line, std::size_t index) { return layout_.unit_holding(line, index); }

  // Whether the line changed since it was last shown.
  bool has_unshown_change() const { return unshown_from_ != kAllShown; }
  // Whether showing it draws only a cell or two at the cursor, in its row (a
  // character typed or rubbed out at the end): drawn with the cursor shown.
  bool change_is_at_cursor(const std::string& line, std::size_t position);
  // Shows what changed since the line was last shown, blanks what the line
  // showed before beyond its new end, and puts the cursor on position.
  void show(const std::string& line, std::size_t position);
  // Puts the cursor on the cell of line index position.
  void place_at(const std::string& line, std::size_t position);
  // Draws the prompt and the line again from the prompt's first cell shown,
  // clearing what lies below, and puts the cursor on position.
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

  // What the view believes the screen shows, for the tests that check it:
  // the prompt (or the search's), the screen row of its first row (below 1
  // once it scrolled away), the column it begins at, and where the cursor is.
  const std::string& prompt() const { return prompt_; }
  int64_t prompt_row() const { return prompt_row_; }
  int32_t prompt_column() const { return prompt_column_; }
  ScreenCell cursor() const { return cursor_; }

 private:
  ScreenCell cell_at_offset(int64_t offset) const;
  int64_t row_of(int64_t offset) const;  // the screen row, above the top or below the bottom too
  int64_t first_shown() const { return (1 - prompt_row_) * width_; }  // the offset of the top-left cell
  int64_t past_shown() const;            // the offset after the last cell the view writes
  int64_t cursor_row(const std::string& line, std::size_t position);  // the screen row the cursor needs
  void forget_layout();
  void read_window();  // the window's size, at least one cell each way
  void place(ScreenCell cell);
  void scroll_up(int64_t rows);
  // Draws the cells from offset from to the end of the window: the prompt's
  // and the line's, and blanks over what the line showed beyond its end.
  void draw(const std::string& line, int64_t from);
  void blank(int64_t from, int64_t to, int64_t limit);
  // Clears the rows shown from the prompt's first cell (or the top-left) down and draws them.
  void draw_window(const std::string& line, bool from_top);
  void redraw_from(const std::string& line, std::size_t position, bool from_top);
  // Writes text whose first unit begins at offset, as far as the cell before
  // limit, blanking the cell a wide unit leaves at the end of a row, and
  // follows the cursor and any scroll.
  void write_text(std::string_view text, int64_t offset, int64_t limit);
  void follow_written(int64_t from_offset, int64_t end_offset);
  void note_cursor_below(const std::string& line);
  void note_screen_seen();
  // After a resize or a stop: the window's size, and where the cursor is
  // now (false: not known, taken to be the bottom row's last column).
  bool read_window_and_cursor();
  // After a stop: the cursor at the start of a fresh row, as shells leave it.
  void go_to_fresh_row(bool known);
  // The sideways row: the prompt's part on the row where the line begins,
  // then the row drawn again where it changed, and the cursor placed.
  void take_lead(ScreenCell line_start);
  void draw_row(const std::string& line, std::size_t position);
  void redraw_row(const std::string& line, std::size_t position, int32_t rows_to_clear);
  void follow_row_change(const std::string& line, std::size_t position, bool continued);

  std::string prompt_;
  int64_t prompt_row_ = 1;          // the screen row of the prompt's first row; it falls as the screen scrolls
  int32_t prompt_column_ = 1;       // the column the prompt begins at
  ScreenCell cursor_{1, 1};         // where the terminal's cursor is
  bool wrap_pending_ = false;       // the cursor stands on the last column with its wrap not yet done
  int32_t width_ = 80;
  int32_t height_ = 24;
  int64_t shown_end_ = 0;           // offset of the cell after the line as last shown
  static constexpr std::size_t kAllShown = std::string::npos;
  std::size_t unshown_from_ = kAllShown;  // a byte index in the first unit changed since the line was last shown
  LineLayout layout_;
  unsigned size_generation_ = 0;    // the window size the view drew for
  unsigned continue_count_ = 0;     // the stops the view has seen
  unsigned resize_count_ = 0;       // the window changes the view has drawn for
  unsigned noticed_resizes_ = 0;    // the window changes counted when last looked
  int64_t noticed_at_ms_ = 0;       // when that count was first seen
  bool sideways_ = false;
  ScrolledRow row_;                 // the sideways row's window ...
  std::vector<std::string> row_shown_;  // ... what its cells show from lead_column_ on
  std::string lead_;                // the prompt's part on the row
  int32_t lead_column_ = 1;         // where lead_ begins
  int32_t row_on_screen_ = 1;       // the row's screen row
};
