// SPDX-License-Identifier: MIT
// The screen room inside: the window as the writer keeps it (writer.cpp),
// its size read again after every change, and who hears of a change.
#pragma once

#include <cstdint>

#include "runtime/term/screen/screen.h"
#include "runtime/term/screen/tracked_screen.h"

struct TermWindow {
  int32_t window_columns = 0;          // 0 until the first size refresh
  int32_t window_rows = 0;
  ResizeListener on_resize = nullptr;  // told after every size refresh
  unsigned size_generation = 0;        // counts size refreshes
};
extern TermWindow term_window;

// How a size refresh may ask the terminal its size when the kernel cannot
// tell: the questions room's asker, given by a read of the size outside a
// write. A write gives none, so no question runs inside a write.
using SizeAsker = bool (*)(int32_t* columns, int32_t* rows);
// The size refresh: reads the window size again if a change is pending, and
// tells the resize listener. It never asks where the cursor is: whoever needs
// the cursor asks after it (the questions room) and the tracked screen takes
// the answer. Runs with the terminal mutex held.
void term_refresh_size(SizeAsker ask_terminal = nullptr);
// The window and the tracked screen as at program start: no size read yet, nothing written.
void screen_reset();
// A new window size, as a size refresh finds it (tests set one directly).
void term_set_window(int32_t columns, int32_t rows);
