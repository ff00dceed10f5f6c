// SPDX-License-Identifier: MIT
// The run-time's contract, not on the converter's path: the operations the
// terminal layer offers to any program, which the converter and its line
// editor do not call: entering and restoring the modes on their own, the
// mutex, the cursor as the writer tracks it (read back from the terminal on
// every call), the view range and absolute cursor placement with its packed
// result, and key reading by code.
#pragma once

#include <cstdint>

#include "runtime/term/screen/screen.h"

int32_t term_enter_modes();
void term_restore();
void term_lock();
void term_unlock();
// Scoped hold of the recursive terminal mutex.
class TermLock {
 public:
  TermLock() { term_lock(); }
  ~TermLock() { term_unlock(); }
  TermLock(const TermLock&) = delete;
  TermLock& operator=(const TermLock&) = delete;
};
// The cursor, 1-based: asked of the terminal where it answers, else as tracked.
void term_cursor_position(int32_t* column, int32_t* row);
int32_t term_cursor_column();
int32_t view_top();
int32_t view_bottom();
void view_range(int32_t* first, int32_t* last);
// Places the cursor at a 1-based cell (0 or less keeps the current row or
// column) and returns the packed cursor result: column and row in the low
// two bytes, bit 16 set while the cursor is visible.
int32_t term_place_cursor(int32_t row, int32_t column, int32_t visibility);
constexpr int32_t pack_cursor(int32_t column, int32_t row, bool shown) {
  return (column & 0xFF) | ((row & 0xFF) << 8) | (shown ? CURSOR_SHOWN_BIT : 0);
}
// The oldest queued key (read one more in first), taken or left.
enum class KeyRead { Peek, Take };
int32_t read_key(KeyRead read);
// Pushes a byte into the key queue with the byte mapping (127 as 8, 10 as 13).
void key_queue_push_byte(int32_t byte);
