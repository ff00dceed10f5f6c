// SPDX-License-Identifier: MIT
// The window as the terminal writer keeps it (screen.cpp): its size, read
// again after every change, and who hears of a change.
#pragma once

#include <cstdint>

#include "runtime/term/term_screen.h"

struct TermWindow {
  int32_t window_columns = 0;          // 0 until the first size refresh
  int32_t window_rows = 0;
  ResizeListener on_resize = nullptr;  // told after every size refresh
  unsigned size_generation = 0;        // counts size refreshes
};
extern TermWindow term_window;

// The size refresh: reads the window size again if a change is pending, and
// with requery asks where the cursor is for the tracked screen; runs with the
// terminal mutex held.
void term_refresh_size(bool requery);
// A new window size, as a size refresh finds it (tests set one directly).
void term_set_window(int32_t columns, int32_t rows);
