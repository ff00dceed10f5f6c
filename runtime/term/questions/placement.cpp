// SPDX-License-Identifier: MIT
// What is read of the terminal by asking it: the window's size where the
// kernel cannot tell, and the run-time's operations on the cursor as the
// writer tracks it (read back from the terminal on every call), the view
// range and absolute placement.
#include <algorithm>

#include "runtime/term/questions/reports.h"
#include "runtime/term/screen/tracked_screen.h"
#include "runtime/term/screen/window.h"
#include "runtime/term/term_internal.h"

bool ask_terminal_size(int32_t* columns, int32_t* rows) { return term_query(Report::Size, rows, columns); }

void term_window_size(int32_t* columns, int32_t* rows) {
  int32_t c = 80, r = 24;
  if (handling_active()) {
    TermLock lock;
    term_refresh_size(ask_terminal_size);
    c = term_window.window_columns;
    r = term_window.window_rows;
  }
  if (columns != nullptr) *columns = c;
  if (rows != nullptr) *rows = r;
}

// --- The run-time's contract: the tracked cursor and placement --------------------------------------------------

void term_cursor_position(int32_t* column, int32_t* row) {
  int32_t c = 1, r = 1;
  if (handling_active()) {
    TermLock lock;
    term_refresh_size(ask_terminal_size);
    term_query_cursor();
    c = term_tracked.cursor_column;
    r = term_tracked.cursor_row;
  }
  if (column != nullptr) *column = c;
  if (row != nullptr) *row = r;
}

int32_t term_cursor_column() {
  int32_t column = 1;
  term_cursor_position(&column, nullptr);
  return column;
}

int32_t view_top() {
  if (term_tracked.view_top == -1) term_tracked.view_top = 0;
  return term_tracked.view_top;
}

int32_t view_bottom() {
  if (term_tracked.view_bottom == -1) {
    int32_t rows = 0;
    term_window_size(nullptr, &rows);
    term_tracked.view_bottom = rows == 0 ? 24 : rows - 1;
  }
  return term_tracked.view_bottom;
}

void view_range(int32_t* first, int32_t* last) {
  *first = view_top() + 1;
  *last = view_bottom() + 1;
}

int32_t term_place_cursor(int32_t row, int32_t column, int32_t visibility) {
  if (!handling_active()) return 0;
  if (row <= 0 || column <= 0) {
    int32_t current_column = 1, current_row = 1;
    term_cursor_position(&current_column, &current_row);
    if (column <= 0) column = current_column;
    if (row <= 0) row = current_row;
  }
  TermLock lock;
  term_refresh_size();
  term_tracked.cursor_column = std::min(column, term_window.window_columns);
  term_tracked.cursor_row = std::min(row, term_window.window_rows);
  term_emit(CAP_CURSOR_MOTION, column - 1, row - 1);
  term_set_cursor_visibility(visibility);
  return pack_cursor(column, row, term_cursor_visible());
}
