// SPDX-License-Identifier: MIT
// The shadow screen: what was written to each cell, kept only for the rows
// written and only up to the last column written in each, so its memory
// follows what the program wrote and not the window's area (a window of
// 65535 x 65535 costs no more than a small one).
#include <algorithm>
#include <cstring>

#include "runtime/term/term_internal.h"

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
