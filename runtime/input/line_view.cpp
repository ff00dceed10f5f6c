#include "runtime/input/line_view.h"

#include <algorithm>

#include "runtime/print/print.h"  // the console record's column
#include "runtime/term/term.h"

namespace {

int64_t floor_mod(int64_t a, int64_t b) { return ((a % b) + b) % b; }

// Lays text out from linear cell at, in rows of width cells: every unit takes
// its cells, and a wide one that would cross the right margin starts on the
// next row. visit(index, cell) is told where each unit starts, and finally
// (index text.size()) the cell after the text; it returns false to stop.
template <typename Visit>
int64_t lay_out(std::string_view text, int64_t at, int32_t width, Visit visit) {
  for (std::size_t i = 0; i < text.size();) {
    const TextUnit unit = text_unit_at(text, i);
    if (unit.cells > 1 && floor_mod(at, width) + unit.cells > width) at += width - floor_mod(at, width);
    if (!visit(i, at)) return at;
    at += unit.cells;
    i += unit.length;
  }
  visit(text.size(), at);
  return at;
}

int64_t lay_out(std::string_view text, int64_t at, int32_t width) {
  return lay_out(text, at, width, [](std::size_t, int64_t) { return true; });
}

// The cell of the unit at byte index (the cell after the text for text.size()).
int64_t cell_of_index(std::string_view text, int64_t at, int32_t width, std::size_t index) {
  int64_t found = at;
  lay_out(text, at, width, [&](std::size_t i, int64_t cell) {
    found = cell;
    return i < index;
  });
  return found;
}

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
  return cell_at(cell_of_index(line, lay_out(prompt_, linear(prompt_origin_), width_), width_, index));
}

std::size_t LineView::index_at(const std::string& line, ScreenCell cell) const {
  const int64_t target = linear(cell);
  std::size_t found = 0;
  lay_out(line, lay_out(prompt_, linear(prompt_origin_), width_), width_, [&](std::size_t i, int64_t start) {
    if (start > target) return false;
    found = i;
    return true;
  });
  return found;
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

void LineView::write_text(std::string_view bytes, ScreenCell from) {
  term_write(bytes.data(), bytes.size());
  const int64_t start = linear(from);
  const int64_t after = lay_out(bytes, start, width_);
  if (after == start) return;
  // Text that runs past the bottom row scrolls the screen. A terminal that
  // wraps late scrolls only for a character after the bottom-right cell, and
  // leaves the cursor on the last column with the wrap pending; one that
  // wraps at once moves on as soon as the last column is written.
  const bool late = term_wraps_late();
  const ScreenCell last = cell_at(after - 1);
  ScreenCell end = cell_at(after);
  const int32_t lowest_row = late ? last.row : end.row;
  const int32_t scrolled = lowest_row > height_ ? lowest_row - height_ : 0;
  prompt_origin_.row -= scrolled;
  end.row -= scrolled;
  if (late && last.column == width_) {
    cursor_.reset();  // wrap pending: a placement must be sent even to the cell it seems to be on
  } else {
    cursor_ = end;
  }
}

void LineView::show_from(const std::string& line, std::size_t from, ScreenCell old_end, std::size_t position) {
  const int64_t uncovered = cells_between(cell_of(line, line.size()), old_end);
  const int32_t origin_row = prompt_origin_.row;
  place_at(line, from);
  write_text(std::string_view(line).substr(from), cell_of(line, from));
  if (uncovered > 0) {
    // The old end moved with any scroll the new text caused.
    const ScreenCell new_end = cell_of(line, line.size());
    old_end.row -= origin_row - prompt_origin_.row;
    write_text(std::string(static_cast<std::size_t>(cells_between(new_end, old_end)), ' '), new_end);
  }
  place_at(line, position);
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
  write_text(prompt_, prompt_origin_);
  write_text(line, cell_of(line, 0));
  place_at(line, position);
}

bool LineView::clear_screen(const std::string& line, std::size_t position) {
  if (!term_emit(CAP_CLEAR, 0, 0)) return false;
  prompt_origin_ = {1, 1};
  cursor_ = ScreenCell{1, 1};
  write_text(prompt_, prompt_origin_);
  write_text(line, cell_of(line, 0));
  place_at(line, position);
  return true;
}

bool LineView::screen_changed() const {
  return term_resize_pending() || term_size_generation() != size_generation_ ||
         term_continue_count() != continue_count_;
}

int64_t LineView::offset_of(const std::string& line, std::size_t position, int32_t width) const {
  return cell_of_index(line, lay_out(prompt_, prompt_origin_.column - 1, width), width, position);
}

void LineView::follow_screen_change(const std::string& line, std::size_t position) {
  cursor_.reset();
  const bool continued = term_continue_count() != continue_count_;
  const int32_t old_width = width_;
  const int64_t old_offset = offset_of(line, position, old_width);
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
    // The cursor stood on the cell of position. Terminals that rewrap their
    // rows at the new width (tmux) show it at the matching column; others keep
    // the rows as they were.
    const int64_t new_offset = offset_of(line, position, width_);
    const bool rewrapped = column == new_offset % width_ + 1;
    const int64_t rows_up = rewrapped ? new_offset / width_ : old_offset / old_width;
    prompt_origin_.row = static_cast<int32_t>(std::max<int64_t>(1, row - rows_up));
  }
  redraw(line, position);
  note_screen_seen();
}
