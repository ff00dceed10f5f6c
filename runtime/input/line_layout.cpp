// SPDX-License-Identifier: MIT
#include "runtime/input/line_layout.h"

#include <algorithm>

#include "runtime/term/term.h"

namespace {

// A byte below 0x80 always begins a unit: it is a whole character of one
// cell in any locale, and never part of a UTF-8 sequence or a mark.
bool begins_a_unit(char byte) { return static_cast<unsigned char>(byte) < 0x80; }

}  // namespace

int64_t unit_placed_at(int64_t offset, int cells, int32_t width) {
  const int64_t column = floor_mod(offset, width);
  return cells > 1 && column + cells > width ? offset + (width - column) : offset;
}

void LineLayout::set_geometry(int64_t start, int32_t width) {
  if (width != width_) {
    width_ = width;
    for (Block& block : blocks_) block.spanned_from = -1;
  }
  blocks_.front().offset = start;
  placed_ = 1;
}

void LineLayout::replaced() {
  const int64_t start = blocks_.front().offset;
  blocks_.assign(1, Block{});
  blocks_.front().offset = start;
  placed_ = 1;
  touched_ = 0;
}

std::size_t LineLayout::block_holding(std::size_t index) const {
  const auto after = std::upper_bound(blocks_.begin(), blocks_.end(), index,
                                      [](std::size_t i, const Block& block) { return i < block.begin; });
  return static_cast<std::size_t>(after - blocks_.begin()) - 1;
}

// The blocks from the first whose units the change may alter to the one
// holding its last byte become one, to be cut again; the blocks after it
// move by what the change added. A change may complete or split a UTF-8
// character begun up to three bytes before it, and that character may be a
// mark of the unit before it: when a block begins there, the one before it
// is cut again too.
void LineLayout::changed(std::size_t at, std::size_t removed, std::size_t inserted) {
  const std::size_t lookback = at - std::min<std::size_t>(at, 3);
  std::size_t first = block_holding(lookback);
  if (first > 0 && blocks_[first].begin == lookback) --first;
  std::size_t last = std::max(first, block_holding(std::max<std::size_t>(at + removed, 1) - 1));
  if (touched_ != kNone) {
    first = std::min(first, touched_);
    last = std::max(last, touched_);
  }
  blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(first) + 1,
                blocks_.begin() + static_cast<std::ptrdiff_t>(last) + 1);
  for (std::size_t b = first + 1; b < blocks_.size(); ++b) blocks_[b].begin = blocks_[b].begin - removed + inserted;
  touched_ = first;
  placed_ = std::min(placed_, first + 1);  // what lies before the touched block did not change
}

// Cuts the touched block again from its beginning (a unit boundary), taking
// in the blocks after it until a unit ends where one of them begins: from
// there on the units are as they were.
void LineLayout::cut_again(const std::string& line) {
  if (touched_ == kNone) return;
  const std::size_t t = touched_;
  touched_ = kNone;
  const int64_t offset = blocks_[t].offset;
  std::vector<Block> cut(1);
  cut.back().begin = blocks_[t].begin;
  for (std::size_t i = cut.back().begin, end = end_of(line, t); i < end;) {
    const TextUnit unit = text_unit_at(line, i);
    Block& block = cut.back();
    block.cells += unit.cells;
    block.wide = block.wide || unit.cells > 1;
    i += unit.length;
    while (i > end) {  // the unit ran into the next block
      blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(t) + 1);
      end = end_of(line, t);
    }
    if (i - block.begin >= block_bytes_ && i < end) cut.emplace_back().begin = i;
  }
  if (cut.front().cells == 0 && cut.front().begin == end_of(line, t) && blocks_.size() > 1) {
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(t));  // nothing left in it
    if (t < blocks_.size()) blocks_[t].offset = offset;
    placed_ = std::min(placed_, blocks_.size());
    return;
  }
  cut.front().offset = offset;
  blocks_[t] = cut.front();
  blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(t) + 1, cut.begin() + 1, cut.end());
}

void LineLayout::place_up_to(const std::string& line, std::size_t block) {
  for (; placed_ <= block; ++placed_) {
    Block& before = blocks_[placed_ - 1];
    blocks_[placed_].offset = before.offset + span_of(line, placed_ - 1);
  }
}

// The cells a block takes from its offset: its own cells unless a wide unit
// in it may move, which depends on the column it begins at.
int64_t LineLayout::span_of(const std::string& line, std::size_t b) {
  Block& block = blocks_[b];
  if (!block.wide) return block.cells;
  const auto column = static_cast<int32_t>(floor_mod(block.offset, width_));
  if (block.spanned_from != column) {
    std::size_t reached = 0;
    block.span = walk(line, b, end_of(line, b), &reached) - block.offset;
    block.spanned_from = column;
  }
  return block.span;
}

int64_t LineLayout::walk(const std::string& line, std::size_t b, std::size_t limit, std::size_t* at) {
  int64_t offset = blocks_[b].offset;
  std::size_t i = blocks_[b].begin;
  for (const std::size_t end = std::min(limit, end_of(line, b)); i < end;) {
    const TextUnit unit = text_unit_at(line, i);
    if (i + unit.length > end) break;
    offset = unit_placed_at(offset, unit.cells, width_) + unit.cells;
    i += unit.length;
  }
  *at = i;
  return offset;
}

int64_t LineLayout::before(const std::string& line, std::size_t index) {
  cut_again(line);
  index = std::min(index, line.size());
  const std::size_t b = block_holding(index);
  place_up_to(line, b);
  if (index == line.size()) return blocks_[b].offset + span_of(line, b);
  std::size_t reached = 0;
  return walk(line, b, index, &reached);
}

int64_t LineLayout::offset_of(const std::string& line, std::size_t index) {
  if (index >= line.size()) return end(line);
  return unit_placed_at(before(line, index), text_unit_at(line, index).cells, width_);
}

std::size_t LineLayout::unit_before(const std::string& line, std::size_t index) {
  return index == 0 ? 0 : unit_holding(line, index - 1);
}

std::size_t LineLayout::unit_holding(const std::string& line, std::size_t index) {
  if (index >= line.size() || begins_a_unit(line[index])) return std::min(index, line.size());
  cut_again(line);
  // Units are known from a boundary on: the nearest byte that begins one, or the block's beginning.
  std::size_t from = index;
  const std::size_t floor = blocks_[block_holding(index)].begin;
  while (from > floor && !begins_a_unit(line[from])) --from;
  for (;;) {
    const std::size_t next = from + text_unit_at(line, from).length;
    if (next > index) return from;
    from = next;
  }
}

std::size_t LineLayout::index_at(const std::string& line, int64_t offset) {
  cut_again(line);
  // The last block whose offset is at or before the cell, placing blocks only as far as needed.
  while (placed_ < blocks_.size() && blocks_[placed_ - 1].offset <= offset) place_up_to(line, placed_);
  const auto after = std::upper_bound(blocks_.begin(), blocks_.begin() + static_cast<std::ptrdiff_t>(placed_), offset,
                                      [](int64_t cell, const Block& block) { return cell < block.offset; });
  if (after == blocks_.begin()) return 0;
  const auto b = static_cast<std::size_t>(after - blocks_.begin()) - 1;
  std::size_t i = blocks_[b].begin, found = i;
  int64_t at = blocks_[b].offset;
  bool any = false;
  for (const std::size_t end = end_of(line, b); i < end;) {
    const TextUnit unit = text_unit_at(line, i);
    const int64_t first_cell = unit_placed_at(at, unit.cells, width_);
    if (first_cell > offset) break;
    found = i;
    any = true;
    at = first_cell + unit.cells;
    i += unit.length;
  }
  if (i == line.size() && at <= offset) return line.size();  // past the line's end
  if (!any) return b == 0 ? 0 : unit_before(line, blocks_[b].begin);  // its first unit moved past the cell
  return found;
}
