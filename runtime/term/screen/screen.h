// SPDX-License-Identifier: MIT
// The screen room: console text written and tracked, the window as the
// writer keeps it, and drawing relative to the cursor (writer.cpp,
// tracked_screen.cpp). What is learnt by asking the terminal is the
// questions room's (questions.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/term/term_floor.h"

// --- Console text and the screen -------------------------------------------

// Writes console text: to standard output, into the shadow screen, and
// advancing the tracked cursor.
void term_write(const void* bytes, std::size_t length);
// Applies a pending window-size change and flushes output: a write of nothing.
inline void term_refresh() { term_write(nullptr, 0); }
// Whether a character written in the last column leaves the cursor there with
// the wrap pending ("xn"), rather than moving it to the next row at once.
bool term_wraps_late();
// Called after every window-size refresh with the new column count, with the
// terminal mutex held, perhaps inside a write: it must not ask the terminal.
using ResizeListener = void (*)(int32_t columns);
void term_set_resize_listener(ResizeListener listener);
// Whether the window size changed since it was last read (it is read again at the next use).
bool term_resize_pending();
// Counts the window-size refreshes: a change means the size was read again.
unsigned term_size_generation();

// --- Drawing ----------------------------------------------------------------


// Cursor visibility requests; a placement with CURSOR_KEEP leaves it as it is.
enum CursorVisibility : int32_t { CURSOR_HIDE = 0, CURSOR_SHOW = 1, CURSOR_KEEP = -1 };
inline constexpr int32_t CURSOR_SHOWN_BIT = 0x10000;  // set in a packed cursor result while the cursor is shown
// Shows or hides the cursor where it is, without asking the terminal where that is.
void term_set_cursor_visibility(int32_t visibility);
bool term_cursor_visible();
// Clears from the cursor to the end of its row ("ce"); false if the entry cannot.
bool term_clear_to_end_of_row();
// Clears from the cursor to the end of the screen ("cd"); false if the entry cannot.
bool term_clear_below();
// Clears the screen and homes the cursor ("cl"); false if the entry cannot.
bool term_clear_screen();
// Moves the cursor from one cell to another (1-based) relative to where it
// is, asking the terminal nothing: down by line feeds, which scroll at the
// bottom row; up with "UP" or "up"; along the row with "RI" or "nd" after a
// carriage return. So a row that is only assumed still draws where the
// cursor really is. An entry without the steps gets "cm".
struct CursorMove {
  int32_t from_column, from_row;
  int32_t to_column, to_row;
  bool wrap_pending;  // the cursor stands on the last column, its wrap not yet done
};
void term_move_cursor(const CursorMove& move);
// While one is alive, what is written collects and goes out in one write
// when the outermost one ends: what one key changes leaves at once (over
// ssh a write can be a packet). A stop meanwhile makes the drawing stale:
// it is dropped, and drawn again once the program is continued.
class HeldOutput {
 public:
  HeldOutput();
  ~HeldOutput();
  HeldOutput(const HeldOutput&) = delete;
  HeldOutput& operator=(const HeldOutput&) = delete;
};
