// SPDX-License-Identifier: MIT
#include "runtime/input/line_view.h"

#include <algorithm>
#include <climits>

#include "runtime/print/print.h"  // the console record's column
#include "runtime/term/term.h"

namespace {

// A window that keeps its size this long after a change is followed: a storm
// of resizes (a window being dragged) is drawn once, at its end.
constexpr int kResizeQuietMs = 50;
// Leftover cells beyond this many are cleared to the end of the screen
// rather than overwritten with blanks.
constexpr int64_t kMostBlanks = 512;
// The width of the sideways row's layout: one row that never wraps.
constexpr int32_t kUnwrapped = 1 << 30;

// Lays text out from offset up to the cell before limit and collects what
// the terminal is sent for it: each unit as it is, or its stand-in where it
// must not be sent (a control character typed or pasted would act on the
// terminal), after a blank for each cell a wide unit leaves at the end of a
// row (so no stale character stays there). Returns the offset reached.
int64_t render(std::string_view text, int64_t offset, int32_t width, std::string* out,
               int64_t limit = INT64_MAX) {
  for (std::size_t i = 0; i < text.size() && offset < limit;) {
    const TextUnit unit = text_unit_at(text, i);
    const int64_t start = unit_placed_at(offset, unit.cells, width);
    if (out != nullptr) out->append(static_cast<std::size_t>(std::min(start, limit) - offset), ' ');
    if (start + unit.cells > limit) return std::min(start, limit);
    if (out != nullptr) out->append(unit.showable ? text.substr(i, unit.length) : text_stand_in());
    offset = start + unit.cells;
    i += unit.length;
  }
  return offset;
}

// The first unit of text laid out from offset whose first cell is at or
// after from, and the offset to write it from.
std::size_t first_unit_from(std::string_view text, int64_t offset, int64_t from, int32_t width, int64_t* at) {
  std::size_t i = 0;
  while (i < text.size()) {
    const TextUnit unit = text_unit_at(text, i);
    if (unit_placed_at(offset, unit.cells, width) >= from) break;
    offset = unit_placed_at(offset, unit.cells, width) + unit.cells;
    i += unit.length;
  }
  *at = std::max(offset, from);
  return i;
}

bool continues_a_character(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// A byte of the first unit whose cells may differ after a change at index
// at of a UTF-8 line (the bytes before at are as they were). A removal that
// began inside a unit may take a mark from it. A change may also split a character
// begun up to three bytes before it, or complete one begun there, and that
// character may be a mark of the unit before it: that unit is shown again.
std::size_t first_byte_changed_on_screen(const std::string& line, std::size_t at, std::size_t removed,
                                         bool at_unit_start) {
  if (!term_text_utf8()) return at;  // a unit is a byte
  std::size_t lead = at;
  while (lead > 0 && at - lead < 3 && continues_a_character(line[lead - 1])) --lead;
  if (lead > 0 && static_cast<unsigned char>(line[lead - 1]) >= 0xC0) --lead;
  if (lead < at) return lead > 0 ? lead - 1 : 0;
  return removed != 0 && at > 0 && !at_unit_start ? at - 1 : at;
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
  if (prompt_column_ > width_) prompt_column_ = 1;
  const int32_t width = sideways_ ? kUnwrapped : width_;
  layout_.set_geometry(render(prompt_, prompt_column_ - 1, width, nullptr), width);
}

void LineView::read_window() {
  term_window_size(&width_, &height_);
  width_ = std::max(width_, 1);
  height_ = std::max(height_, 1);
}

void LineView::start() {
  read_window();
  // Where the prompt left the cursor: asked only when what the program wrote
  // does not tell (the first line, after a resize or a stop), so that no
  // reply is awaited when the keys after the last answer arrive; they belong
  // to the shell. Otherwise, or without an answer in time, the column printed
  // to, on the bottom row: moves are relative, so the row only has to be one
  // the cursor may be on.
  int32_t column = 0, row = 0;
  const bool known = !term_cursor_follows_output() && term_ask_cursor(&column, &row);
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
  const ScreenCell prompt_origin = cell_after(line_start, -static_cast<int64_t>(text_cells(prompt_)), width_);
  prompt_column_ = prompt_origin.column;
  prompt_row_ = prompt_origin.row;
  if (wrap_pending) {
    term_write("\n", 1);  // the line starts on the next row, which may mean a scroll
    if (row == height_) {
      --prompt_row_;
      line_start.row = height_;
    }
  }
  cursor_ = line_start;
  wrap_pending_ = false;
  forget_layout();
  shown_end_ = layout_.start();
  note_screen_seen();
  term_set_feeds_to_fresh_row(1);
  if (sideways_) take_lead(line_start);
}

void LineView::take_lead(ScreenCell line_start) {
  // The prompt's units laid out from its first cell; those on the line's row are the lead.
  const int64_t row_begin = (line_start.row - prompt_row_) * int64_t{width_};
  int64_t offset = prompt_column_ - 1;
  std::size_t i = 0;
  for (; i < prompt_.size(); i += text_unit_at(prompt_, i).length) {
    const int64_t start = unit_placed_at(offset, text_unit_at(prompt_, i).cells, width_);
    if (start >= row_begin) break;
    offset = start + text_unit_at(prompt_, i).cells;
  }
  lead_ = prompt_.substr(i);
  lead_column_ = static_cast<int32_t>(std::clamp<int64_t>(
      i < prompt_.size() ? unit_placed_at(offset, text_unit_at(prompt_, i).cells, width_) - row_begin + 1
                         : line_start.column,
      1, width_));
  row_on_screen_ = line_start.row;
  row_.reset();
  row_shown_ = row_.lay_out(lead_, "", 0, std::max(width_ - lead_column_, 1)).cells;  // as the prompt was printed
}

// Draws the cells that differ from what the row shows, blanks what it showed
// beyond its new end and puts the cursor on position. The last column is
// never written: no wrap is ever pending, on any terminal.
void LineView::draw_row(const std::string& line, std::size_t position) {
  unshown_from_ = kAllShown;
  ScrolledRow::Shown now = row_.lay_out(lead_, line, position, std::max(width_ - lead_column_, 1));
  std::size_t first = 0;
  while (first < now.cells.size() && first < row_shown_.size() && now.cells[first] == row_shown_[first]) ++first;
  // A wide unit's second cell is drawn with its first, before and after.
  while (first > 0 && ((first < now.cells.size() && now.cells[first].empty()) ||
                       (first < row_shown_.size() && row_shown_[first].empty()))) {
    --first;
  }
  const auto column_of = [&](std::size_t cell) { return static_cast<int32_t>(lead_column_ + cell); };
  std::string out;
  for (std::size_t cell = first; cell < now.cells.size(); ++cell) out += now.cells[cell];
  if (!out.empty()) {
    place({column_of(first), row_on_screen_});
    term_write(out.data(), out.size());
    cursor_ = {column_of(now.cells.size()), row_on_screen_};
  }
  if (row_shown_.size() > now.cells.size()) {
    constexpr std::size_t kFewBlanks = 4;
    const std::size_t blanks = row_shown_.size() - now.cells.size();
    place({column_of(now.cells.size()), row_on_screen_});
    if (blanks > kFewBlanks && term_clear_to_end_of_row()) {
    } else {
      term_write(std::string(blanks, ' ').data(), blanks);
      cursor_.column = column_of(row_shown_.size());
    }
  }
  place({column_of(static_cast<std::size_t>(now.cursor)), row_on_screen_});
  row_shown_ = std::move(now.cells);
}

// Clears rows from the lead's cell down (what the row was rewrapped into)
// and draws the row whole.
void LineView::redraw_row(const std::string& line, std::size_t position, int32_t rows_to_clear) {
  for (int32_t row = row_on_screen_; row < row_on_screen_ + std::max(rows_to_clear, 1) && row <= height_; ++row) {
    place({row == row_on_screen_ ? lead_column_ : 1, row});
    term_clear_to_end_of_row();
  }
  row_shown_.clear();
  draw_row(line, position);
}

void LineView::changed(const std::string& line, std::size_t at, std::size_t removed, std::size_t inserted,
                       bool at_unit_start) {
  layout_.changed(at, removed, inserted);
  const std::size_t first = first_byte_changed_on_screen(line, at, removed, at_unit_start);
  unshown_from_ = std::min(unshown_from_, std::min(first, line.size()));
}

void LineView::replaced() {
  layout_.replaced();
  unshown_from_ = 0;
}

int64_t LineView::row_of(int64_t offset) const { return prompt_row_ + floor_div(offset, width_); }

ScreenCell LineView::cell_at_offset(int64_t offset) const {
  return {static_cast<int32_t>(floor_mod(offset, width_) + 1), clamp32(row_of(offset))};
}

int64_t LineView::past_shown() const {
  const int64_t past = (height_ + 1 - prompt_row_) * width_;
  return term_wraps_late() ? past : past - 1;
}

// The cursor's screen row. On a terminal that wraps at once the bottom-right
// cell is never written: a cursor whose unit would reach it (a soft cursor
// is drawn and taken back there) has the screen scroll one row more, unless
// the window has no other row.
int64_t LineView::cursor_row(const std::string& line, std::size_t position) {
  const int64_t offset = layout_.offset_of(line, position);
  const int64_t row = row_of(offset);
  const int cells = position < line.size() ? std::max(text_unit_at(line, position).cells, 1) : 1;
  return row == height_ && height_ > 1 && offset + cells > past_shown() ? row + 1 : row;
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
    prompt_row_ -= cell.row - height_;
    cell.row = height_;
  }
  cursor_ = cell;
}

// Scrolls the screen up by rows, with line feeds at the bottom row: what
// scrolls away goes where the terminal keeps it. A window's worth is enough
// to bring in only blank rows.
void LineView::scroll_up(int64_t rows) {
  const int64_t fed = std::min<int64_t>(rows, height_);
  place({1, static_cast<int32_t>(height_ + fed)});
  prompt_row_ -= rows - fed;
}

void LineView::place_at(const std::string& line, std::size_t position) {
  if (sideways_) return draw_row(line, position);  // the window may move
  const int64_t row = cursor_row(line, position);
  if (row < 1) {  // above the first row shown: the rows are brought back into the window
    prompt_row_ += 1 - row;
    draw_window(line, true);
  } else if (row > height_) {
    // Below the last row shown: the screen scrolls, and the rows it brings in
    // are drawn (on a terminal that wraps at once, with the row above them,
    // whose last cell was not written).
    scroll_up(row - height_);
    const int64_t brought_in = std::min<int64_t>(row - height_, height_) + (term_wraps_late() ? 0 : 1);
    draw(line, (height_ + 1 - brought_in - prompt_row_) * width_);
  }
  place(cell_at_offset(layout_.offset_of(line, position)));
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
  prompt_row_ -= scrolled;
  last.row -= scrolled;
  end.row -= scrolled;
  wrap_pending_ = late && last.column == width_;
  cursor_ = wrap_pending_ ? last : end;
}

void LineView::write_text(std::string_view text, int64_t offset, int64_t limit) {
  if (text.empty() || offset >= limit) return;
  std::string shown;
  const int64_t end = render(text, offset, width_, &shown, limit);
  if (shown.empty()) return;
  place(cell_at_offset(offset));
  term_write(shown.data(), shown.size());
  follow_written(offset, end);
}

void LineView::draw(const std::string& line, int64_t from) {
  const int64_t limit = past_shown();
  from = std::max(from, first_shown());
  const int64_t line_start = layout_.start();
  if (from < line_start) {  // the prompt's cells from there
    int64_t at = 0;
    const std::size_t i = first_unit_from(prompt_, prompt_column_ - 1, from, width_, &at);
    write_text(std::string_view(prompt_).substr(i), at, std::min(limit, line_start));
    from = line_start;
  }
  const int64_t end = layout_.end(line);
  if (from < std::min(end, limit)) {
    // The first unit whose first cell is at or after from.
    std::size_t i = layout_.index_at(line, from);
    if (i < line.size() && layout_.offset_of(line, i) < from) i += text_unit_at(line, i).length;
    write_text(std::string_view(line).substr(i), std::max(layout_.before(line, i), from), limit);
  }
  // What the longer line showed beyond the new end, as far as the window goes.
  const int64_t blank_from = std::max(end, from), blank_to = std::min(shown_end_, limit);
  if (blank_to > blank_from) blank(blank_from, blank_to, limit);
  shown_end_ = end;
}

// Blanks the cells [from, to), the last the line showed: a few cells inside a
// row with blanks; else each row to its end with erase-line (blanks written
// across a row's edge would join the rows on a terminal that reflows them);
// a great many at once to the end of the screen.
void LineView::blank(int64_t from, int64_t to, int64_t limit) {
  constexpr int64_t kFewBlanks = 4;
  place(cell_at_offset(from));
  if (to - from > kMostBlanks && term_clear_below()) return;
  for (int64_t at = from; at < to;) {
    const int64_t row_end = (floor_div(at, width_) + 1) * width_;  // the next row's first cell
    const int64_t stop = std::min(to, row_end);
    place(cell_at_offset(at));
    if ((stop < row_end && stop - at <= kFewBlanks) || !term_clear_to_end_of_row()) {
      write_text(std::string(static_cast<std::size_t>(stop - at), ' '), at, limit);
    }
    at = row_end;
  }
}

void LineView::note_cursor_below(const std::string& line) {
  const int64_t end = layout_.end(line);
  const int64_t last_row = std::min<int64_t>(row_of(std::max<int64_t>(end, 1) - 1), height_);
  term_set_feeds_to_fresh_row(static_cast<int32_t>(std::max<int64_t>(1, last_row - cursor_.row + 1)));
}

bool LineView::change_is_at_cursor(const std::string& line, std::size_t position) {
  constexpr int64_t kFewCells = 2;
  if (sideways_) return has_unshown_change();  // one row, drawn where it changed
  if (!has_unshown_change() || wrap_pending_) return false;
  const int64_t from = layout_.before(line, layout_.unit_holding(line, std::min(unshown_from_, line.size())));
  const int64_t to = std::max(layout_.end(line), shown_end_);
  const int64_t cursor = (int64_t{cursor_.row} - prompt_row_) * width_ + cursor_.column - 1;
  const int64_t target = layout_.offset_of(line, position);
  return to - from <= kFewCells && cursor >= from && cursor <= to && target >= from && target <= to &&
         row_of(from) == row_of(std::max(from, to - 1)) && row_of(to) <= height_ && to < past_shown();
}

void LineView::show(const std::string& line, std::size_t position) {
  if (sideways_) return draw_row(line, position);
  const std::size_t from = std::min(unshown_from_, line.size());
  unshown_from_ = kAllShown;
  const int64_t row = cursor_row(line, position);
  if (row >= 1) draw(line, layout_.before(line, layout_.unit_holding(line, from)));
  place_at(line, position);  // an edit that moved the cursor out of the window draws the window
}

void LineView::draw_window(const std::string& line, bool from_top) {
  const int64_t from = from_top ? first_shown() : std::max(first_shown(), int64_t{prompt_column_} - 1);
  const ScreenCell start = cell_at_offset(from);
  place(start);
  // tmux takes a clear to the end of the screen from its top-left cell for a
  // clear screen, and keeps the rows in its history: clear those row by row.
  const bool at_top_left = start.row == 1 && start.column == 1;
  if (at_top_left || !term_clear_below()) {
    // Row by row, as far down as the line can reach at either width.
    const int64_t reach = std::max(layout_.end(line), shown_end_);
    const auto last_row = static_cast<int32_t>(std::clamp<int64_t>(row_of(reach) + 1, 1, height_));
    for (int32_t row = start.row; row <= last_row; ++row) {
      place({row == start.row ? start.column : 1, row});
      term_clear_to_end_of_row();
    }
  }
  shown_end_ = 0;  // cleared
  draw(line, from);
}

void LineView::redraw(const std::string& line, std::size_t position) {
  if (!sideways_) return redraw_from(line, position, false);
  if (lead_ != prompt_ && !prompt_.ends_with(lead_)) lead_ = prompt_;  // another prompt (a search's) from the lead's cell
  redraw_row(line, position, 1);
}

void LineView::redraw_from(const std::string& line, std::size_t position, bool from_top) {
  unshown_from_ = kAllShown;
  forget_layout();
  const int64_t row = cursor_row(line, position);
  if (row < 1) prompt_row_ += 1 - row;
  if (row > height_) scroll_up(row - height_);
  draw_window(line, from_top);
  place(cell_at_offset(layout_.offset_of(line, position)));
  note_cursor_below(line);
}

bool LineView::clear_screen(const std::string& line, std::size_t position) {
  if (!term_clear_screen()) return false;
  prompt_row_ = 1;
  prompt_column_ = 1;
  cursor_ = {1, 1};
  wrap_pending_ = false;
  shown_end_ = 0;
  forget_layout();
  if (sideways_) {
    lead_ = prompt_;
    lead_column_ = 1;
    row_on_screen_ = 1;
    row_shown_.clear();
    draw_row(line, position);
    return true;
  }
  // The screen is blank: a cursor below the bottom needs no scroll.
  const int64_t row = cursor_row(line, position);
  if (row > height_) prompt_row_ -= row - height_;
  redraw(line, position);
  return true;
}

void LineView::show_soft_cursor(const std::string& line, std::size_t position, bool on) {
  place_at(line, position);
  const int64_t offset = layout_.offset_of(line, position);
  if (on) {
    print_text(CONSOLE, "\xff", PRINT_LINE_OPEN);
    follow_written(offset, offset + 1);
  } else {
    // What the cell shows: the units from the cursor's up to the first that
    // takes a cell (a mark takes none), or a blank after the line.
    std::size_t end = position;
    bool filled = false;
    while (end < line.size() && !filled) {
      const TextUnit unit = text_unit_at(line, end);
      end += unit.length;
      filled = unit.cells > 0;
    }
    std::string cell = line.substr(position, end - position);
    if (!filled) cell += ' ';
    write_text(cell, offset, past_shown());
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

bool LineView::read_window_and_cursor() {
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
  return known;
}

void LineView::go_to_fresh_row(bool known) {
  if (!known || cursor_.column != 1) {  // as shells do
    term_write("\n", 1);
    cursor_.row = std::min(cursor_.row + 1, height_);
  }
  cursor_.column = 1;
}

void LineView::follow_row_change(const std::string& line, std::size_t position, bool continued) {
  const int64_t drawn_offset = cursor_.column - 1;  // the row is never wider than the window was
  const int64_t drawn_reach = lead_column_ - 1 + static_cast<int64_t>(row_shown_.size());
  const bool known = read_window_and_cursor();
  const auto [column, row] = cursor_;
  int32_t rows = 1;
  if (continued) {
    go_to_fresh_row(known);
    row_on_screen_ = cursor_.row;
  } else {
    // A terminal that rewraps its rows (tmux) may have put the row's end on
    // the rows below and the cursor with it; one that keeps them cut it.
    const int64_t rewrapped_rows = drawn_offset / width_;
    const bool rewrapped = known && rewrapped_rows > 0 && column == drawn_offset % width_ + 1;
    row_on_screen_ = static_cast<int32_t>(std::max<int64_t>(1, row - (rewrapped ? rewrapped_rows : 0)));
    rows = static_cast<int32_t>(std::min<int64_t>(drawn_reach / width_ + 1, height_));
  }
  if (continued || lead_column_ > width_ / 2) {
    lead_ = prompt_;
    lead_column_ = 1;
  }
  redraw_row(line, position, rows);
  note_screen_seen();
}

void LineView::follow_screen_change(const std::string& line, std::size_t position, bool continued) {
  if (sideways_) return follow_row_change(line, position, continued);
  // Where the cursor was last drawn, in cells from the prompt's row, and at
  // what width: the terminal moved it from there (keys may have changed the
  // line since, unshown). Whether all of the prompt and the line was shown.
  const int32_t drawn_width = width_;
  const int64_t drawn_offset = (cursor_.row - prompt_row_) * width_ + (cursor_.column - 1);
  const bool scrolled_away = prompt_row_ < 1;
  const bool all_shown = !scrolled_away && row_of(std::max<int64_t>(layout_.end(line), 1) - 1) <= height_;
  const bool known = read_window_and_cursor();
  const auto [column, row] = cursor_;
  if (continued) {
    go_to_fresh_row(known);
    prompt_column_ = 1;
    prompt_row_ = cursor_.row;
    forget_layout();
  } else {
    // Terminals that rewrap their rows at the new width (tmux) show the
    // cursor at the column its drawn cell has there; others keep the rows as
    // they were (xterm, the Linux console: cutting them and the cursor's
    // column to the width). Only a cursor that stands where one kind would
    // have it and the other not tells them apart: otherwise the line is drawn
    // again, as a terminal that kept its rows needs. Not told where the
    // cursor is, the view goes up no further than either would have it, so
    // nothing above the prompt is cleared.
    const int64_t rewrapped_rows = drawn_offset / width_;
    const int64_t kept_rows = drawn_offset / drawn_width;
    const int64_t rewrapped_column = drawn_offset % width_ + 1;
    const int64_t kept_column = std::min<int64_t>(drawn_offset % drawn_width + 1, width_);
    const bool told_apart = rewrapped_rows != kept_rows || rewrapped_column != kept_column;
    const bool rewrapped = known && told_apart && column == rewrapped_column;
    int64_t rows_up = std::min(rewrapped_rows, kept_rows);
    if (known) rows_up = rewrapped ? rewrapped_rows : kept_rows;
    prompt_row_ = row - rows_up;  // above the top when the line is taller than what is left
    if (rewrapped && all_shown) {
      // The terminal shows the line as it was drawn, laid out at the new
      // width: a redraw would only break it (tmux keeps the rows scrolled
      // away in its history, and joins them again when the window widens).
      // What changed since is shown as any change is.
      if (has_unshown_change()) {
        show(line, position);
      } else {
        place_at(line, position);
      }
      note_screen_seen();
      return;
    }
    if (scrolled_away) {
      // The prompt had scrolled away: every row above the cursor was the
      // line's, and what the terminal made of them is not known. The
      // window is drawn again from its top: the prompt's first row there, or
      // the cursor on the bottom row when it lies too far down for that.
      prompt_row_ = std::min<int64_t>(1, height_ - floor_div(layout_.offset_of(line, position), width_));
      redraw_from(line, position, true);
      note_screen_seen();
      return;
    }
  }
  redraw(line, position);
  note_screen_seen();
}
