// SPDX-License-Identifier: MIT
// Where each unit of an edited line falls in rows of a given width, kept
// between edits so that an edit anywhere costs about what it changes, not
// the length of the line.
//
// Offsets count cells from the first cell of the row where the prompt
// begins; the line begins at the offset after the prompt. A unit takes its
// cells one after another, except that a wide one that would cross the
// right margin starts on the next row (the cell it leaves stays blank).
//
// The line is held as blocks of about a kilobyte, cut at unit boundaries:
// each knows its cells and whether it holds a wide unit. Where a block
// begins on the screen follows from the block before it: by adding its cells
// when it holds no wide unit, by laying it out again when it does and its
// first column changed. An edit marks the blocks it touches to be cut again;
// the work is done when the layout is next asked, so typing or pasting at
// one place lays out only what was typed. No I/O: tested directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The column of a cell offset in rows of width cells (0-based; negative offsets lie in the rows above).
inline int64_t floor_mod(int64_t a, int64_t b) { return ((a % b) + b) % b; }

// Where a unit of the given cells begins when the cells before it end at
// offset: a wide one that would cross the right margin starts on the next row.
int64_t unit_placed_at(int64_t offset, int cells, int32_t width);

class LineLayout {
 public:
  // Blocks are cut at the first unit boundary block_bytes after their beginning.
  explicit LineLayout(std::size_t block_bytes = 1024) : block_bytes_(block_bytes) {}

  // The line begins at offset start, in rows of width cells (a new prompt, a new window).
  void set_geometry(int64_t start, int32_t width);
  // The line's bytes [at, at + removed) were replaced by inserted bytes.
  void changed(std::size_t at, std::size_t removed, std::size_t inserted);
  // The whole line is another.
  void replaced();

  int32_t width() const { return width_; }
  int64_t start() const { return blocks_.front().offset; }
  // The offset before the unit at index (a unit boundary), before any cell a
  // wide unit leaves at a row's end; at line.size(), the offset after the line.
  int64_t before(const std::string& line, std::size_t index);
  // The offset of the first cell of the unit at index; at line.size(), the offset after the line.
  int64_t offset_of(const std::string& line, std::size_t index);
  int64_t end(const std::string& line) { return before(line, line.size()); }
  // The start of the unit that ends at index; the unit holding the byte index.
  std::size_t unit_before(const std::string& line, std::size_t index);
  std::size_t unit_holding(const std::string& line, std::size_t index);
  // The last unit boundary (or line.size()) whose unit's first cell is at or before offset.
  std::size_t index_at(const std::string& line, int64_t offset);

 private:
  struct Block {
    std::size_t begin = 0;       // the byte index of its first unit
    int64_t cells = 0;           // its units' cells, none moved
    bool wide = false;           // holds a unit of more than one cell
    int64_t offset = 0;          // the offset before its first unit (right for blocks below placed_)
    int32_t spanned_from = -1;   // a wide block: the column it was last laid out from ...
    int64_t span = 0;            // ... and the cells it took from there
  };

  std::size_t end_of(const std::string& line, std::size_t block) const {
    return block + 1 < blocks_.size() ? blocks_[block + 1].begin : line.size();
  }
  std::size_t block_holding(std::size_t index) const;  // the last block beginning at or before index
  void cut_again(const std::string& line);             // the blocks an edit touched
  void place_up_to(const std::string& line, std::size_t block);
  int64_t span_of(const std::string& line, std::size_t block);
  // Walks the units of block from its beginning up to byte index limit;
  // returns the offset reached and sets *at to the boundary reached.
  int64_t walk(const std::string& line, std::size_t block, std::size_t limit, std::size_t* at);

  std::vector<Block> blocks_{Block{}};
  std::size_t placed_ = 1;                 // blocks whose offset is right
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t touched_ = kNone;            // the block an edit left to be cut again, if any
  int32_t width_ = 80;
  std::size_t block_bytes_;
};
