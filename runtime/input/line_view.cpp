// SPDX-License-Identifier: MIT
#include "runtime/input/line_view.h"

#include <algorithm>
#include <limits>

#include "runtime/print/print.h"  // the console record's column
#include "runtime/term/term.h"

namespace {

constexpr int64_t kNotAStart = std::numeric_limits<int64_t>::min();
// A window that keeps its size this long after a change is followed: a storm
// of resizes (a window being dragged) is drawn once, at its end.
constexpr int kResizeQuietMs = 50;
// Leftover cells beyond this many are cleared to the end of the screen
// rather than overwritten with blanks.
constexpr int64_t kMostBlanks = 512;

int64_t floor_mod(int64_t a, int64_t b) { return ((a % b) + b) % b; }

// Where a unit of the given cells begins when the cells before it end at
// offset: a wide one that would cross the right margin starts on the next row.
int64_t unit_start(int64_t offset, int cells, int32_t width) {
  const int64_t column = floor_mod(offset, width);
  return cells > 1 && column + cells > width ? offset + (width - column) : offset;
}

// Lays text out from offset and collects what the terminal is sent for it:
// each unit as it is, or its stand-in where it must not be sent (a control
// character typed or pasted would act on the terminal), after a blank for
// each cell a wide unit leaves at the end of a row (so no stale character
// stays there). Returns the offset after the text.
int64_t render(std::string_view text, int64_t offset, int32_t width, std::string* out) {
  for (std::size_t i = 0; i < text.size();) {
    const TextUnit unit = text_unit_at(text, i);
    const int64_t start = unit_start(offset, unit.cells, width);
    if (out != nullptr) {
      out->append(static_cast<std::size_t>(start - offset), ' ');
      out->append(unit.showable ? text.substr(i, unit.length) : text_stand_in());
    }
    offset = start + unit.cells;
    i += unit.length;
  }
  return offset;
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

int32_t clamp32(int64_t v) {
  return static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(v, INT32_MIN), INT32_MAX));
}

}  // namespace

ScreenCell cell_after(ScreenCell from, int64_t cells, int32_t width) {
  const int64_t k = (int64_t{from.row} - 1) * width + (from.column - 1) + cells;
  const int64_t row = floor_div(k, width);
  return {clamp32(k - row * width + 1), clamp32(row + 1)};
}

void LineView::note_screen_seen() {
  size_generation_ = term_size_generation();
  continue_count_ = term_continue_count();
  resize_count_ = noticed_resizes_ = term_resize_count();
}

void LineView::forget_layout() {
  if (prompt_origin_.column > width_) prompt_origin_.column = 1;
  before_.assign(1, render(prompt_, prompt_origin_.column - 1, width_, nullptr));
  valid_ = 0;
}

void LineView::read_window() {
  term_window_size(&width_, &height_);
  width_ = std::max(width_, 1);
  height_ = std::max(height_, 1);
}

std::size_t LineView::start_of_unit(std::size_t index) const {
  while (index > 0 && before_[index] == kNotAStart) --index;
  return index;
}

void LineView::start() {
  read_window();
  // Where the prompt left the cursor: the one question per line. Without an
  // answer in time, the column printed to, on the bottom row.
  int32_t column = 0, row = 0;
  const bool known = term_ask_cursor(&column, &row);
  const int32_t printed_column = console_record()->column;  // 0-based, reduced modulo the width
  if (!known) {
    column = std::min(printed_column + 1, width_);
    row = height_;
  }
  // The terminal reports the last column both for a cursor standing there and
  // for one whose wrap is pending; the console's column tells them apart: 0
  // means the prompt filled its row.
  const bool wrap_pending =
      term_wraps_late() && !prompt_.empty() && printed_column == 0 && (!known || column == width_);
  ScreenCell line_start = wrap_pending ? ScreenCell{1, row + 1} : ScreenCell{column, row};
  prompt_origin_ = cell_after(line_start, -static_cast<int64_t>(text_cells(prompt_)), width_);
  if (wrap_pending) {
    term_write("\n", 1);  // the line starts on the next row, which may mean a scroll
    if (row == height_) {
      --prompt_origin_.row;
      line_start.row = height_;
    }
  }
  cursor_ = line_start;
  wrap_pending_ = false;
  forget_layout();
  shown_end_ = before_[0];
  note_screen_seen();
  term_set_feeds_to_fresh_row(1);
}

ScreenCell LineView::cell_at_offset(int64_t offset) const {
  return cell_after({1, prompt_origin_.row}, offset, width_);
}

void LineView::lay_out_to(const std::string& line, std::size_t index) {
  const std::size_t size = line.size();
  if (before_.size() != size + 1) before_.resize(size + 1, kNotAStart);
  std::size_t i = valid_;
  int64_t offset = before_[i];
  while (i < std::min(index, size)) {
    const TextUnit unit = text_unit_at(line, i);
    before_[i] = offset;
    for (std::size_t j = 1; j < unit.length; ++j) before_[i + j] = kNotAStart;
    offset = unit_start(offset, unit.cells, width_) + unit.cells;
    i += unit.length;
    before_[i] = offset;
  }
  valid_ = i;
}

void LineView::changed_from(const std::string& line, std::size_t from) {
  unshown_from_ = std::min(unshown_from_, from);
  if (from == 0 || from - 1 >= valid_) {
    valid_ = std::min(valid_, from);
  } else {
    valid_ = start_of_unit(from - 1);  // the unit before the change may grow by it (a combining mark joins it)
  }
  valid_ = std::min(valid_, line.size());
}

int64_t LineView::offset_of(const std::string& line, std::size_t index) {
  lay_out_to(line, index);
  if (index >= line.size()) return before_[line.size()];
  index = start_of_unit(index);
  return unit_start(before_[index], text_unit_at(line, index).cells, width_);
}

ScreenCell LineView::cell_of(const std::string& line, std::size_t index) {
  return cell_at_offset(offset_of(line, index));
}

std::size_t LineView::unit_before(const std::string& line, std::size_t index) {
  if (index == 0) return 0;
  lay_out_to(line, index);
  return start_of_unit(index - 1);
}

std::size_t LineView::index_at(const std::string& line, ScreenCell cell) {
  const int64_t target = linear(cell) - linear({1, prompt_origin_.row});
  const std::size_t size = line.size();
  lay_out_to(line, size);
  if (offset_of(line, 0) > target) return 0;
  if (offset_of(line, size) <= target) return size;
  // offset_of(low) <= target < offset_of(high), both unit boundaries.
  std::size_t low = 0, high = size;
  for (;;) {
    std::size_t middle = start_of_unit(low + (high - low) / 2);  // low starts a unit: never below it
    if (middle == low) middle = low + text_unit_at(line, low).length;
    if (middle >= high) return low;
    (offset_of(line, middle) <= target ? low : high) = middle;
  }
}

// Moves the cursor to a cell, relative to where the model has it. A cell
// below the bottom row scrolls the screen up; one above the top is out of
// reach and left alone.
void LineView::place(ScreenCell cell) {
  if (cell.row < 1) return;
  if (!wrap_pending_ && cursor_.column == cell.column && cursor_.row == cell.row) return;
  term_move_cursor({cursor_.column, cursor_.row, cell.column, cell.row, wrap_pending_});
  wrap_pending_ = false;
  if (cell.row > height_) {
    prompt_origin_.row -= cell.row - height_;
    cell.row = height_;
  }
  cursor_ = cell;
}

void LineView::place_at(const std::string& line, std::size_t position) {
  place(cell_of(line, position));
  note_cursor_below(line);
}

// After text from from_offset to end_offset was written where the cursor
// stood: text that runs past the bottom row scrolls the screen. A terminal
// that wraps late scrolls only for a character after the bottom-right cell,
// and leaves the cursor on the last column with the wrap pending; one that
// wraps at once moves on as soon as the last column is written.
void LineView::follow_written(int64_t from_offset, int64_t end_offset) {
  if (end_offset == from_offset) return;
  const bool late = term_wraps_late();
  ScreenCell last = cell_at_offset(end_offset - 1);
  ScreenCell end = cell_at_offset(end_offset);
  const int32_t lowest_row = late ? last.row : end.row;
  const int32_t scrolled = lowest_row > height_ ? lowest_row - height_ : 0;
  prompt_origin_.row -= scrolled;
  last.row -= scrolled;
  end.row -= scrolled;
  wrap_pending_ = late && last.column == width_;
  cursor_ = wrap_pending_ ? last : end;
}

void LineView::write_text(std::string_view text, int64_t offset) {
  std::string shown;
  const int64_t end = render(text, offset, width_, &shown);
  term_write(shown.data(), shown.size());
  follow_written(offset, end);
}

void LineView::note_cursor_below(const std::string& line) {
  const int64_t end = offset_of(line, line.size());
  const int32_t last_row = cell_at_offset(std::max<int64_t>(end, 1) - 1).row;
  term_set_feeds_to_fresh_row(std::max(1, last_row - cursor_.row + 1));
}

void LineView::show(const std::string& line, std::size_t from, std::size_t position) {
  unshown_from_ = kAllShown;
  from = std::min(from, line.size());
  lay_out_to(line, line.size());
  const int64_t start = before_[from];  // before any blank a wide unit leaves
  place(cell_at_offset(start));
  write_text(std::string_view(line).substr(from), start);
  const int64_t end = before_[line.size()];
  if (shown_end_ > end) {
    // What the longer line showed beyond the new end.
    if (shown_end_ - end <= kMostBlanks || !term_clear_below()) {
      write_text(std::string(static_cast<std::size_t>(shown_end_ - end), ' '), end);
    }
  }
  shown_end_ = end;
  place_at(line, position);
}

namespace {

// The first unit of text laid out from offset whose cell is at or after
// from, and the offset to write it from.
std::size_t first_unit_from(std::string_view text, int64_t offset, int64_t from, int32_t width, int64_t* at) {
  std::size_t i = 0;
  while (i < text.size()) {
    const TextUnit unit = text_unit_at(text, i);
    if (unit_start(offset, unit.cells, width) >= from) break;
    offset = unit_start(offset, unit.cells, width) + unit.cells;
    i += unit.length;
  }
  *at = std::max(offset, from);
  return i;
}

}  // namespace

void LineView::redraw(const std::string& line, std::size_t position) {
  unshown_from_ = kAllShown;
  forget_layout();
  lay_out_to(line, line.size());
  // Rows scrolled off the top cannot be reached: the drawing begins on the first row shown.
  const int64_t first_shown = prompt_origin_.row < 1 ? (int64_t{1} - prompt_origin_.row) * width_ : 0;
  const ScreenCell start = first_shown > 0 ? ScreenCell{1, 1} : prompt_origin_;
  place(start);
  // tmux takes a clear to the end of the screen from its top-left cell for a
  // clear screen, and keeps the rows in its history: clear those row by row.
  const bool at_top_left = start.row == 1 && start.column == 1;
  if (at_top_left || !term_clear_below()) {
    // Row by row, as far down as the line can reach at either width.
    const int32_t last_row = std::min(height_, cell_at_offset(std::max(before_[line.size()], shown_end_)).row + 1);
    for (int32_t row = start.row; row <= last_row; ++row) {
      place({row == start.row ? start.column : 1, row});
      term_clear_to_end_of_row();
    }
    place(start);
  }
  int64_t at = 0;
  const std::size_t prompt_from = first_unit_from(prompt_, prompt_origin_.column - 1, first_shown, width_, &at);
  write_text(std::string_view(prompt_).substr(prompt_from), at);
  const std::size_t line_from = before_[0] >= first_shown ? 0 : index_at(line, cell_at_offset(first_shown));
  write_text(std::string_view(line).substr(line_from), std::max(before_[line_from], first_shown));
  shown_end_ = before_[line.size()];
  place_at(line, position);
}

bool LineView::clear_screen(const std::string& line, std::size_t position) {
  if (!term_clear_screen()) return false;
  prompt_origin_ = {1, 1};
  cursor_ = {1, 1};
  wrap_pending_ = false;
  shown_end_ = 0;
  redraw(line, position);
  return true;
}

void LineView::show_soft_cursor(const std::string& line, std::size_t position, bool on) {
  place_at(line, position);
  const int64_t offset = offset_of(line, position);
  if (on) {
    print_text(CONSOLE, "\xff", PRINT_LINE_OPEN);
    follow_written(offset, offset + 1);
  } else {
    const std::size_t length = position < line.size() ? text_unit_at(line, position).length : 0;
    write_text(length != 0 ? std::string_view(line).substr(position, length) : " ", offset);
  }
  place_at(line, position);
}

bool LineView::screen_changed() const {
  return term_resize_pending() || term_size_generation() != size_generation_ ||
         term_continue_count() != continue_count_ || term_resize_count() != resize_count_;
}

bool LineView::continued() const { return term_continue_count() != continue_count_; }

bool LineView::ready_to_follow(int* wait_ms) {
  if (!term_in_foreground()) return false;  // brought back with fg, it is drawn then
  const unsigned resizes = term_resize_count();
  const int64_t now = term_now_ms();
  if (resizes != noticed_resizes_) {
    noticed_resizes_ = resizes;
    noticed_at_ms_ = now;
  }
  if (resizes == resize_count_) return true;  // a stop alone: nothing to wait for
  const int64_t quiet = now - noticed_at_ms_;
  if (quiet >= kResizeQuietMs) return true;
  *wait_ms = static_cast<int>(kResizeQuietMs - quiet);
  return false;
}

void LineView::follow_screen_change(const std::string& line, std::size_t position, bool continued) {
  // Where the cursor was last drawn, in cells from the prompt's row, and at
  // what width: the terminal moved it from there (keys may have changed the
  // line since, unshown).
  const int32_t drawn_width = width_;
  const int64_t drawn_offset = linear(cursor_) - linear({1, prompt_origin_.row});
  read_window();
  forget_layout();
  int32_t column = 0, row = 0;
  const bool known = term_ask_cursor(&column, &row);
  if (!known) {
    column = width_;  // unknown: every move from here begins with a carriage return
    row = height_;
  }
  cursor_ = {column, row};
  wrap_pending_ = false;
  if (continued) {
    if (!known || column != 1) {  // a fresh row, as shells do
      term_write("\n", 1);
      row = std::min(row + 1, height_);
    }
    prompt_origin_ = {1, row};
    cursor_ = {1, row};
  } else {
    // Terminals that rewrap their rows at the new width (tmux) show the
    // cursor at the column its drawn cell has there; others keep the rows as
    // they were (xterm, cutting the cursor's column to the width). Not told
    // which, the view goes up no further than either would have it, so
    // nothing above the prompt is cleared.
    const int64_t rewrapped_rows = drawn_offset / width_;
    const int64_t kept_rows = drawn_offset / drawn_width;
    const bool rewrapped = known && column == drawn_offset % width_ + 1;
    int64_t rows_up = std::min(rewrapped_rows, kept_rows);
    if (known) rows_up = rewrapped ? rewrapped_rows : kept_rows;
    prompt_origin_.row = static_cast<int32_t>(row - rows_up);  // above the top when the line is taller than what is left
    if (rewrapped) {
      // The terminal shows the line as it was drawn, laid out at the new
      // width: a redraw would only break it (tmux keeps the rows scrolled
      // away in its history, and joins them again when the window widens).
      // What changed since is shown as any change is.
      const std::size_t unshown = unshown_from_;
      if (unshown != kAllShown) {
        show(line, unshown, position);
      } else {
        place_at(line, position);
      }
      note_screen_seen();
      return;
    }
  }
  redraw(line, position);
  note_screen_seen();
}
