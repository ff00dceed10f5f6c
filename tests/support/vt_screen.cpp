// SPDX-License-Identifier: MIT
#include "tests/support/vt_screen.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>

namespace {

const std::string kBlank = " ";

std::vector<std::string> blank_row(int columns) { return std::vector<std::string>(static_cast<std::size_t>(columns), kBlank); }

}  // namespace

VtScreen::VtScreen(int columns, int rows, bool utf8, bool late_wrap)
    : columns_(columns), rows_(rows), utf8_(utf8), late_wrap_(late_wrap), cells_(static_cast<std::size_t>(rows), blank_row(columns)) {}

void VtScreen::resize(int columns, int rows) {
  for (Row& row : cells_) row.resize(static_cast<std::size_t>(columns), kBlank);
  cells_.resize(static_cast<std::size_t>(rows), blank_row(columns));
  columns_ = columns;
  rows_ = rows;
  column_ = std::min(column_, columns - 1);
  row_ = std::min(row_, rows - 1);
  wrap_pending_ = false;
}

void VtScreen::line_feed() {
  if (row_ + 1 < rows_) {
    ++row_;
    return;
  }
  cells_.erase(cells_.begin());
  cells_.push_back(blank_row(columns_));
}

void VtScreen::blank(int column) {
  Row& row = cells_[static_cast<std::size_t>(row_)];
  const auto at = static_cast<std::size_t>(column);
  if (row[at].empty() && at > 0) row[at - 1] = kBlank;          // the second cell of a wide one
  if (at + 1 < row.size() && row[at + 1].empty()) row[at + 1] = kBlank;  // the first cell of one
}

void VtScreen::put(const std::string& character, int width) {
  if (wrap_pending_ || column_ + width > columns_) {
    if (!wrap_pending_) {
      for (int c = column_; c < columns_; ++c) cells_[static_cast<std::size_t>(row_)][static_cast<std::size_t>(c)] = kBlank;
    }
    column_ = 0;
    line_feed();
    wrap_pending_ = false;
  }
  Row& row = cells_[static_cast<std::size_t>(row_)];
  for (int c = column_; c < column_ + width; ++c) blank(c);
  row[static_cast<std::size_t>(column_)] = character;
  if (width == 2) row[static_cast<std::size_t>(column_) + 1].clear();
  if (column_ + width == columns_ && !late_wrap_) {
    column_ = 0;
    line_feed();
  } else if (column_ + width == columns_) {
    column_ = columns_ - 1;
    wrap_pending_ = true;
  } else {
    column_ += width;
  }
}

// In UTF-8 the bytes of a character are gathered and decoded by the C
// library (the locale's, which is UTF-8 where this is used); a byte that
// begins no character is a cell of its own.
void VtScreen::take_text_byte(char c) {
  if (!utf8_) return put(std::string(1, c), 1);
  pending_.push_back(c);
  std::mbstate_t state{};
  wchar_t character = 0;
  const std::size_t taken = std::mbrtowc(&character, pending_.data(), pending_.size(), &state);
  if (taken == static_cast<std::size_t>(-2)) return;  // more to come
  std::string bytes;
  bytes.swap(pending_);
  const int width = taken == static_cast<std::size_t>(-1) ? 1 : wcwidth(character);
  if (width == 0) return;  // a mark: not kept
  put(bytes, std::min(width < 0 ? 1 : width, columns_));  // in one column a wide one takes the cell
}

void VtScreen::csi(char final_byte, const std::string& parameters) {
  std::vector<int> values;
  for (std::size_t at = 0; at <= parameters.size();) {
    const std::size_t semicolon = std::min(parameters.find(';', at), parameters.size());
    values.push_back(std::atoi(parameters.substr(at, semicolon - at).c_str()));
    at = semicolon + 1;
  }
  const int n = std::max(values[0], 1);
  if (!parameters.empty() && parameters[0] == '?') return;  // private modes
  wrap_pending_ = wrap_pending_ && (final_byte == 'm' || final_byte == 'n' || final_byte == 't');
  Row& row = cells_[static_cast<std::size_t>(row_)];
  switch (final_byte) {
    case 'A': row_ = std::max(row_ - n, 0); break;
    case 'B': row_ = std::min(row_ + n, rows_ - 1); break;
    case 'C': column_ = std::min(column_ + n, columns_ - 1); break;
    case 'D': column_ = std::max(column_ - n, 0); break;
    case 'H':
    case 'f':
      row_ = std::clamp(std::max(values[0], 1) - 1, 0, rows_ - 1);
      column_ = std::clamp((values.size() > 1 ? std::max(values[1], 1) : 1) - 1, 0, columns_ - 1);
      break;
    case 'K':
      blank(column_);
      std::fill(row.begin() + column_, row.end(), kBlank);
      break;
    case 'J':
      if (values[0] == 2) {
        for (Row& r : cells_) r = blank_row(columns_);
      } else {
        blank(column_);
        std::fill(row.begin() + column_, row.end(), kBlank);
        for (int r = row_ + 1; r < rows_; ++r) cells_[static_cast<std::size_t>(r)] = blank_row(columns_);
      }
      break;
    default: break;  // colours, reports and the rest change nothing shown
  }
}

void VtScreen::feed(std::string_view bytes) {
  for (const char c : bytes) {
    switch (state_) {
      case State::Escape:  // ESC and one byte; ESC ( and ESC % take one more
        state_ = c == '[' ? State::Csi : (c == '(' || c == '%' ? State::Charset : State::Text);
        parameters_.clear();
        continue;
      case State::Charset:
        state_ = State::Text;
        continue;
      case State::Csi:
        if (c >= 0x40 && c <= 0x7E) {
          csi(c, parameters_);
          state_ = State::Text;
        } else {
          parameters_.push_back(c);
        }
        continue;
      case State::Text:
        break;
    }
    switch (c) {
      case '\033': state_ = State::Escape; break;
      case '\r': column_ = 0; wrap_pending_ = false; break;
      case '\n': line_feed(); wrap_pending_ = false; break;
      case '\b': column_ = std::max(column_ - 1, 0); wrap_pending_ = false; break;
      case '\a': break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) take_text_byte(c);
    }
  }
}

std::string VtScreen::row_text(int row) const {
  std::string text;
  for (const std::string& cell : cells_[static_cast<std::size_t>(row - 1)]) text += cell;
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string VtScreen::text() const {
  std::vector<std::string> rows;
  for (int r = 1; r <= rows_; ++r) rows.push_back(row_text(r));
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  std::string text;
  for (const std::string& r : rows) text += r + "\n";
  return text;
}
