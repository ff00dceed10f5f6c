// The terminal writer and screen geometry.
#include <cstdio>

#include "runtime/term/term.h"
#include "runtime/term/term_state.h"

void term_write(const void* bytes, std::size_t length) {
  if (length != 0) std::fwrite(bytes, 1, length, stdout);
  std::fflush(stdout);
}

void term_window_size(int32_t* columns, int32_t* rows) {
  if (columns != nullptr) *columns = 80;
  if (rows != nullptr) *rows = 24;
}

void term_cursor_position(int32_t* column, int32_t* row) {
  if (column != nullptr) *column = 1;
  if (row != nullptr) *row = 1;
}

int32_t term_cursor_column() {
  int32_t column = 1;
  term_cursor_position(&column, nullptr);
  return column;
}
