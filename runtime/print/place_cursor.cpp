// SPDX-License-Identifier: MIT
// Cursor placement through the console record: validated against the view
// range and the window, and keeping the console's column with the cursor.
#include "runtime/core/core.h"
#include "runtime/print/print.h"
#include "runtime/term/term.h"

int32_t place_cursor_validated(int32_t row, int32_t column, int32_t visibility, int32_t* packed) {
  set_error(ERROR_NONE);
  int32_t first = 0, last = 0, columns = 0;
  view_range(&first, &last);
  term_window_size(&columns, nullptr);
  // A coordinate of 0 stands for the current one and is not checked.
  if ((row != 0 && (row < first || row > last)) || (column != 0 && (column < 1 || column > columns))) {
    if (packed != nullptr) *packed = 0;
    return set_error(ERROR_NOT_AVAILABLE);
  }
  console_setup();
  const int32_t result = term_place_cursor(row, column, visibility);
  if (column != 0) console_record()->column = column - 1;
  if (packed != nullptr) *packed = result;
  return ERROR_NONE;
}

int32_t place_cursor(int32_t row, int32_t column, int32_t visibility) {
  int32_t packed = 0;
  if (place_cursor_validated(row, column, visibility, &packed) == ERROR_NOT_AVAILABLE)
    place_cursor_validated(0, 0, visibility, &packed);
  return packed;
}
