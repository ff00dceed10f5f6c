#include "runtime/input/line_view.h"

#include <algorithm>

#include "runtime/print/print.h"  // the console record's column
#include "runtime/term/term.h"

namespace {

// The screen cells a text takes.
std::size_t text_cells(const char*, std::size_t length) { return length; }
std::size_t text_cells(std::string_view text) { return text_cells(text.data(), text.size()); }

}  // namespace

void LineView::note_screen_seen() {
  size_generation_ = term_size_generation();
  continue_count_ = term_continue_count();
}

void LineView::start() {
  cursor_.reset();
  term_window_size(&width_, &height_);
  width_ = std::max(width_, 1);
  int32_t column = 1, row = 1;
  term_cursor_position(&column, &row);  // where the prompt left the cursor: the one question per line
  // The terminal reports the last column both for a cursor standing there and
  // for one whose wrap is pending; the console's column, reduced modulo the
  // width, tells them apart: 0 means the prompt filled its row.
  const bool wrap_pending = term_wraps_late() && column == width_ && !prompt_.empty() &&
                            console_record()->column == 0;
  const ScreenCell line_start = wrap_pending ? ScreenCell{1, row + 1} : ScreenCell{column, row};
  prompt_origin_ = cell_after(line_start, -static_cast<int64_t>(text_cells(prompt_)), width_);
  if (wrap_pending) {
    term_write("\n", 1);  // the line starts on the next row, which may mean a scroll
    if (row == height_) --prompt_origin_.row;
  }
  cursor_ = cell_of(std::string(), 0);
  note_screen_seen();
}

ScreenCell LineView::cell_of(const std::string& line, std::size_t index) const {
  const std::size_t cells = text_cells(prompt_) + text_cells(line.data(), index);
  return cell_after(prompt_origin_, static_cast<int64_t>(cells), width_);
}

// The view checks cells against the window as it is now, so it places the
// cursor directly: the view range of validated placement is fixed when first
// used and would refuse the rows of a window that has grown since.
void LineView::place(ScreenCell cell) {
  if (cell.row == height_ + 1 && cell.column == 1) {
    // Just past the bottom-right corner: a line feed there scrolls the screen up a row.
    term_place_cursor(height_, width_, CURSOR_KEEP);
    term_write("\n", 1);
    --prompt_origin_.row;
    cursor_ = ScreenCell{1, height_};
    return;
  }
  if (cell.row < 1 || cell.row > height_ || cell.column < 1 || cell.column > width_) return;
  if (cursor_ && cursor_->column == cell.column && cursor_->row == cell.row) return;  // already there
  term_place_cursor(cell.row, cell.column, CURSOR_KEEP);
  cursor_ = cell;
}

void LineView::write_cells(const char* bytes, std::size_t length, std::size_t cells, ScreenCell from) {
  term_write(bytes, length);
  if (cells == 0) return;
  // Text that runs past the bottom row scrolls the screen. A terminal that
  // wraps late scrolls only for a character after the bottom-right cell, and
  // leaves the cursor on the last column with the wrap pending; one that
  // wraps at once moves on as soon as the last column is written.
  const bool late = term_wraps_late();
  const ScreenCell last = cell_after(from, static_cast<int64_t>(cells) - 1, width_);
  ScreenCell after = cell_after(from, static_cast<int64_t>(cells), width_);
  const int32_t lowest_row = late ? last.row : after.row;
  const int32_t scrolled = lowest_row > height_ ? lowest_row - height_ : 0;
  prompt_origin_.row -= scrolled;
  after.row -= scrolled;
  if (late && last.column == width_) {
    cursor_.reset();  // wrap pending: a placement must be sent even to the cell it seems to be on
  } else {
    cursor_ = after;
  }
}

void LineView::write_line(const std::string& line, std::size_t from, std::size_t to) {
  write_cells(line.data() + from, to - from, text_cells(line.data() + from, to - from), cell_of(line, from));
}

void LineView::write_blanks(std::size_t cells, ScreenCell from) {
  const std::string blanks(cells, ' ');
  write_cells(blanks.data(), blanks.size(), cells, from);
}

void LineView::redraw(const std::string& line, std::size_t position) {
  // A prompt scrolled off the top is drawn again from the first row.
  if (prompt_origin_.row < 1) prompt_origin_ = {1, 1};
  if (prompt_origin_.column > width_) prompt_origin_.column = 1;
  place(prompt_origin_);
  term_clear_to_end_of_row();
  for (int32_t row = prompt_origin_.row + 1; row <= height_; ++row) {
    place({1, row});
    term_clear_to_end_of_row();
  }
  place(prompt_origin_);
  write_cells(prompt_.data(), prompt_.size(), text_cells(prompt_), prompt_origin_);
  write_line(line, 0, line.size());
  place_at(line, position);
}

bool LineView::screen_changed() const {
  return term_resize_pending() || term_size_generation() != size_generation_ ||
         term_continue_count() != continue_count_;
}

void LineView::follow_screen_change(const std::string& line, std::size_t position) {
  cursor_.reset();
  const bool continued = term_continue_count() != continue_count_;
  const int32_t old_width = width_;
  term_window_size(&width_, &height_);
  width_ = std::max(width_, 1);
  int32_t column = 1, row = 1;
  term_cursor_position(&column, &row);
  if (continued) {
    if (column != 1) {  // a fresh row, as shells do
      term_write("\n", 1);
      row = std::min(row + 1, height_);
    }
    prompt_origin_ = {1, row};
  } else {
    // The cursor stood on cell_of(position). Terminals that rewrap their rows
    // at the new width (tmux) show it at the matching column; others keep the
    // rows as they were.
    const int64_t offset = prompt_origin_.column - 1 + static_cast<int64_t>(text_cells(prompt_) +
                                                                            text_cells(line.data(), position));
    const bool rewrapped = column == offset % width_ + 1;
    const int64_t rows_up = offset / (rewrapped ? width_ : std::max(old_width, 1));
    prompt_origin_.row = static_cast<int32_t>(std::max<int64_t>(1, row - rows_up));
  }
  redraw(line, position);
  note_screen_seen();
}
