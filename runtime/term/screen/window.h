// SPDX-License-Identifier: MIT
// The window as the terminal writer keeps it (screen.cpp): its size, read
// again after every change, and who hears of a change.
#pragma once

#include <cstdint>

#include "runtime/term/screen/screen.h"

struct TermWindow {
  int32_t window_columns = 0;          // 0 until the first size refresh
  int32_t window_rows = 0;
  ResizeListener on_resize = nullptr;  // told after every size refresh
  unsigned size_generation = 0;        // counts size refreshes
};
extern TermWindow term_window;

// Where a size refresh may look: a write asks the kernel only, so no question
// to the terminal runs inside a write; a read of the size may also ask the
// terminal when the kernel cannot tell.
enum class SizeSource { Kernel, KernelOrTerminal };
// The size refresh: reads the window size again if a change is pending, and
// tells the resize listener. It never asks where the cursor is: whoever needs
// the cursor asks after it (term_ask_cursor, term_cursor_position) and the
// tracked screen takes the answer. Runs with the terminal mutex held.
void term_refresh_size(SizeSource source);
// A new window size, as a size refresh finds it (tests set one directly).
void term_set_window(int32_t columns, int32_t rows);
