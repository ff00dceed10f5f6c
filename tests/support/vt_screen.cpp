// SPDX-License-Identifier: MIT
#include "tests/support/vt_screen.h"

#include <algorithm>
#include <cstdlib>

VtScreen::VtScreen(int columns, int rows)
    : columns_(columns), rows_(rows), cells_(static_cast<std::size_t>(rows), std::string(columns, ' ')) {}

void VtScreen::resize(int columns, int rows) {
  for (std::string& row : cells_) row.resize(static_cast<std::size_t>(columns), ' ');
  cells_.resize(static_cast<std::size_t>(rows), std::string(columns, ' '));
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
  cells_.emplace_back(columns_, ' ');
}

void VtScreen::put(char c) {
  if (wrap_pending_) {
    column_ = 0;
    line_feed();
    wrap_pending_ = false;
  }
  cells_[static_cast<std::size_t>(row_)][static_cast<std::size_t>(column_)] = c;
  if (column_ + 1 == columns_) {
    wrap_pending_ = true;
  } else {
    ++column_;
  }
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
  auto& row = cells_[static_cast<std::size_t>(row_)];
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
    case 'K': std::fill(row.begin() + column_, row.end(), ' '); break;
    case 'J':
      if (values[0] == 2) {
        for (std::string& r : cells_) r.assign(static_cast<std::size_t>(columns_), ' ');
      } else {
        std::fill(row.begin() + column_, row.end(), ' ');
        for (int r = row_ + 1; r < rows_; ++r) cells_[static_cast<std::size_t>(r)].assign(columns_, ' ');
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
        if (static_cast<unsigned char>(c) >= 0x20) put(c);
    }
  }
}

std::string VtScreen::row_text(int row) const {
  std::string text = cells_[static_cast<std::size_t>(row - 1)];
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
