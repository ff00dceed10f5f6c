// SPDX-License-Identifier: MIT
// The questions room, as the other layers see it: what is learnt by asking
// the terminal (reports.cpp, placement.cpp). A question waits on the
// keyboard for its answer, never longer than a second, and is not asked
// while keys are waiting.
#pragma once

#include <cstdint>

#include "runtime/term/screen/screen.h"

void term_window_size(int32_t* columns, int32_t* rows);
// Asks the terminal where the cursor is (1-based); false when it did not
// answer in time, is asked from the background, or is not driven.
bool term_ask_cursor(int32_t* column, int32_t* row);
// Whether where a prompt leaves the cursor follows from what the program
// wrote, with no need to ask: the terminal was asked since the window last
// changed size and the program was last continued, and all output since is
// the program's own, whose column the console keeps.
bool term_cursor_follows_output();

// --- The run-time's contract: the cursor as the writer tracks it, read back
// from the terminal on every call, the view range, and absolute placement ---

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
