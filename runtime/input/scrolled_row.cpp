// SPDX-License-Identifier: MIT
#include "runtime/input/scrolled_row.h"

#include <algorithm>

#include "runtime/term/term.h"

namespace {

struct Unit {
  int64_t start;  // its first cell, counted from lead's first
  int cells;
  std::string_view shown;
};

// The units of text from cell start on, as the terminal is sent them.
int64_t add_units(std::string_view text, int64_t start, std::vector<Unit>* units, std::size_t position,
                  int64_t* cursor) {
  std::size_t i = 0;
  for (; i < text.size(); i += text_unit_at(text, i).length) {
    if (i == position) *cursor = start;
    const TextUnit unit = text_unit_at(text, i);
    units->push_back({start, unit.cells, unit.showable ? text.substr(i, unit.length) : text_stand_in()});
    start += unit.cells;
  }
  if (i == position) *cursor = start;
  return start;
}

// A marker over cell at, and a blank over what is left of a wide unit it cuts.
void mark(std::vector<std::string>* cells, std::size_t at, const char* marker) {
  if ((*cells)[at].empty() && at > 0) (*cells)[at - 1] = " ";
  if (at + 1 < cells->size() && (*cells)[at + 1].empty()) (*cells)[at + 1] = " ";
  (*cells)[at] = marker;
}

}  // namespace

ScrolledRow::Shown ScrolledRow::lay_out(std::string_view lead, std::string_view line, std::size_t position,
                                        int32_t cells) {
  const int64_t width = std::max(cells, 1);
  const int64_t third = std::max<int64_t>((width + 1) / 3, 1);  // of the window, its last column too
  std::vector<Unit> units;
  int64_t cursor = 0;
  const int64_t line_start = add_units(lead, 0, &units, std::string_view::npos, &cursor);
  cursor = line_start;
  const int64_t total = add_units(line, line_start, &units, position, &cursor);

  // The window moves only when the cursor would stand on a marker or beyond the row.
  if (total < width) margin_ = 0;  // all of it fits, the cursor after it too
  // Going left, the window starts a third of the row before the cursor, at a
  // multiple of a third; going right, it leaves the cursor a third of the row
  // from its right edge.
  if (margin_ > 0 && cursor < margin_ + 1) margin_ = std::max<int64_t>(0, (cursor + 1 - third) / third * third);
  const auto more_right = [&] { return total > margin_ + width; };
  if (cursor > margin_ + width - 1 - (more_right() ? 1 : 0)) margin_ = std::max<int64_t>(0, cursor - (width + 1 - third));
  // It begins where a unit does.
  for (auto unit = units.rbegin(); unit != units.rend(); ++unit) {
    if (unit->start <= margin_) {
      margin_ = unit->start;
      break;
    }
  }

  Shown shown;
  shown.cells.assign(static_cast<std::size_t>(std::clamp<int64_t>(total - margin_, 0, width)), " ");
  for (const Unit& unit : units) {
    if (unit.start < margin_ || unit.start + unit.cells > margin_ + width) continue;  // a part at an edge: blank
    const auto at = static_cast<std::size_t>(unit.start - margin_);
    if (unit.cells == 0) {
      if (at > 0) shown.cells[at - 1].append(unit.shown);  // a mark that has no cell of its own
      continue;
    }
    shown.cells[at] = std::string(unit.shown);
    for (int k = 1; k < unit.cells; ++k) shown.cells[at + static_cast<std::size_t>(k)].clear();
  }
  if (margin_ > 0 && !shown.cells.empty()) mark(&shown.cells, 0, "<");
  if (more_right()) mark(&shown.cells, shown.cells.size() - 1, ">");
  shown.cursor = static_cast<int32_t>(std::clamp<int64_t>(cursor - margin_, 0, width - 1));
  return shown;
}
