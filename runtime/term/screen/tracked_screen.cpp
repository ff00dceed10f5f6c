// SPDX-License-Identifier: MIT
// The run-time's contract: the screen as the terminal writer tracks it, fed
// by the writer (writer.cpp), and the operations on it the run-time offers
// any program: the cursor read back, the view range, absolute placement.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "runtime/term/screen/window.h"
#include "runtime/term/term_internal.h"
#include "runtime/term/screen/tracked_screen.h"

TrackedScreen term_tracked;

// --- The shadow screen: kept only for the rows written, and only up to the
// last column written in each, so its memory follows what the program wrote
// and not the window's area (a window of 65535 x 65535 costs no more than a
// small one).

void ShadowScreen::resize(int32_t columns, int32_t rows) {
  rows_.erase(rows_.lower_bound(rows), rows_.end());
  for (auto& [row, cells] : rows_) {
    if (cells.characters.size() > static_cast<std::size_t>(columns)) {
      cells.characters.resize(static_cast<std::size_t>(columns));
      cells.attributes.resize(static_cast<std::size_t>(columns));
    }
  }
  columns_ = columns;
  rows_count_ = rows;
}

void ShadowScreen::put(int64_t cell, const uint8_t* characters, std::size_t count, uint8_t attribute) {
  if (columns_ <= 0 || cell < 0) return;
  while (count > 0 && cell < int64_t{columns_} * rows_count_) {
    const auto row = static_cast<int32_t>(cell / columns_);
    const auto column = static_cast<std::size_t>(cell % columns_);
    const std::size_t n = std::min(count, static_cast<std::size_t>(columns_) - column);
    Row& cells = rows_[row];
    if (cells.characters.size() < column + n) {
      cells.characters.resize(column + n, '\0');
      cells.attributes.resize(column + n, '\0');
    }
    std::memcpy(cells.characters.data() + column, characters, n);
    std::memset(cells.attributes.data() + column, attribute, n);
    cell += static_cast<int64_t>(n);
    characters += n;
    count -= n;
  }
}

uint8_t ShadowScreen::character(int32_t row, int32_t column) const {
  const auto found = rows_.find(row);
  if (found == rows_.end() || static_cast<std::size_t>(column) >= found->second.characters.size()) return 0;
  return static_cast<uint8_t>(found->second.characters[static_cast<std::size_t>(column)]);
}

uint8_t ShadowScreen::attribute(int32_t row, int32_t column) const {
  const auto found = rows_.find(row);
  if (found == rows_.end() || static_cast<std::size_t>(column) >= found->second.attributes.size()) return 0;
  return static_cast<uint8_t>(found->second.attributes[static_cast<std::size_t>(column)]);
}

std::size_t ShadowScreen::bytes_held() const {
  std::size_t bytes = 0;
  for (const auto& [row, cells] : rows_) bytes += cells.characters.capacity() + cells.attributes.capacity();
  return bytes;
}

void ShadowScreen::clear() {
  rows_.clear();
  columns_ = rows_count_ = 0;
}

std::string ShadowScreen::text() const {
  std::string text;
  for (int32_t row = 0; row < rows_count_; ++row) {
    for (int32_t column = 0; column < columns_; ++column) {
      const uint8_t c = character(row, column);
      text.push_back(c == 0 ? '.' : static_cast<char>(c));
    }
    text.push_back('\n');
  }
  return text;
}

// --- What the writer feeds it ------------------------------------------------

namespace {

// Stores the bytes as one linear run from the cursor's cell.
// A character of several bytes fills its cells with its first byte and zeros.
void copy_to_shadow(const uint8_t* bytes, std::size_t length) {
  const int64_t columns = term_window.window_columns;
  const int64_t offset = (int64_t{term_tracked.cursor_row} - 1) * columns + (term_tracked.cursor_column - 1);
  const int64_t room = columns * term_window.window_rows - offset;
  if (offset < 0 || room <= 0) return;
  const auto attribute = static_cast<uint8_t>((term_tracked.background_colour << 4) | term_tracked.foreground_colour);
  if (!term_text_utf8()) {
    term_tracked.shadow.put(offset, bytes, static_cast<std::size_t>(std::min<uint64_t>(length, static_cast<uint64_t>(room))),
               attribute);
    return;
  }
  const std::string_view text(reinterpret_cast<const char*>(bytes), length);
  int64_t cell = offset;
  for (std::size_t at = 0; at < length && cell < offset + room;) {
    const TextUnit character = text_character_at(text, at);
    for (int i = 0; i < character.cells && cell < offset + room; ++i, ++cell) {
      const uint8_t shown = i == 0 ? bytes[at] : 0;
      term_tracked.shadow.put(cell, &shown, 1, attribute);
    }
    at += character.length;
  }
}

// One cell further; a line feed, or reaching the last column, advances a line.
void advance_cursor(bool line_feed) {
  term_tracked.cursor_column += 1;
  if (line_feed || term_tracked.cursor_column >= term_window.window_columns) {
    term_tracked.cursor_column = 1;
    term_tracked.cursor_row = std::min(term_tracked.cursor_row + 1, term_window.window_rows);
  }
}

}  // namespace

// The cursor moves by the cells of each character, at its first byte.
void tracked_write(const uint8_t* bytes, std::size_t length) {
  if (length == 0) return;
  copy_to_shadow(bytes, length);
  const std::string_view text(reinterpret_cast<const char*>(bytes), length);
  for (std::size_t i = 0; i < length;) {
    const TextUnit character = text_character_at(text, i);
    for (int cell = 0; cell < character.cells; ++cell) advance_cursor(bytes[i] == '\n');
    i += character.length;
  }
}

// A reported cursor outside the window (a terminal gone wrong) is taken at its edge.
void tracked_move_to(int32_t column, int32_t row) {
  term_tracked.cursor_column = std::clamp(column, 1, std::max(term_window.window_columns, 1));
  term_tracked.cursor_row = std::clamp(row, 1, std::max(term_window.window_rows, 1));
}

void tracked_cleared() {
  term_tracked.cursor_column = term_tracked.cursor_row = 1;
  term_tracked.shadow.clear();  // nothing written is left
  term_tracked.shadow.resize(term_window.window_columns, term_window.window_rows);
}

void tracked_resized(int32_t columns, int32_t rows) { term_tracked.shadow.resize(columns, rows); }

void tracked_reset() {
  term_tracked.foreground_colour = 7;
  term_tracked.background_colour = 0;
  term_tracked.cursor_column = 1;
  term_tracked.cursor_row = 1;
}
