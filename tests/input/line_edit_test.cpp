// SPDX-License-Identifier: MIT
// The line editor's screen arithmetic, and its plain path when the terminal is
// not driven (the terminal's own line editing; here a pipe stands in for it).
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "runtime/input/input.h"
#include "runtime/term/term.h"
#include "runtime/stream/stream.h"

namespace {

TEST(CellAfter, CountsCellsRowByRowWithFloorDivision) {
  const struct {
    ScreenCell from;
    int64_t cells;
    int32_t width;
    ScreenCell to;
  } cases[] = {
      {{75, 1}, 6, 80, {1, 2}},      // a line starting at column 75 wraps after 6 bytes
      {{1, 2}, -1, 80, {80, 1}},     // left from the first cell: last column of the row above
      {{1, 1}, -1, 80, {80, 0}},     // ... even above the screen: nothing is clamped
      {{1, 1}, -81, 80, {80, -1}},
      {{80, 24}, 1, 80, {1, 25}},    // just past the bottom-right corner
      {{3, 5}, 0, 80, {3, 5}},
      {{10, 3}, 250, 40, {20, 9}},
      {{1, 1}, -1, 1, {1, 0}},       // a one-column window
      {{5, 2}, -4000000000LL, 80, {5, -49999998}},
  };
  for (const auto& c : cases) {
    const ScreenCell to = cell_after(c.from, c.cells, c.width);
    EXPECT_EQ(to.column, c.to.column) << c.from.column << "," << c.from.row << " + " << c.cells;
    EXPECT_EQ(to.row, c.to.row) << c.from.column << "," << c.from.row << " + " << c.cells;
  }
}

// Standard input replaced by a pipe holding the given bytes, while alive.
class PipedStdin {
 public:
  explicit PipedStdin(const std::string& bytes) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    (void)!write(fds[1], bytes.data(), bytes.size());
    close(fds[1]);
    saved_ = dup(STDIN_FILENO);
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
    stream_input_forget();
  }
  ~PipedStdin() {
    dup2(saved_, STDIN_FILENO);
    close(saved_);
    stream_input_forget();
  }

 private:
  int saved_ = -1;
};

TEST(PlainLineEdit, ReadsUpToTheLineFeedAndReportsTheEnd) {
  PipedStdin in(std::string("12\n\nlast\0x", 10));
  LineEnding ending = LineEnding::EndOfInput;
  EXPECT_EQ(line_edit(EDIT_WITH_TERMINAL_CURSOR, &ending), "12");
  EXPECT_NE(ending, LineEnding::EndOfInput);
  EXPECT_EQ(line_edit(EDIT_WITH_TERMINAL_CURSOR, &ending), "");  // an empty line is not the end
  EXPECT_NE(ending, LineEnding::EndOfInput);
  EXPECT_EQ(line_edit(EDIT_WITH_TERMINAL_CURSOR, &ending), std::string("last\0x", 6));  // no line feed
  EXPECT_EQ(ending, LineEnding::Enter);
  EXPECT_EQ(line_edit(EDIT_WITH_TERMINAL_CURSOR, &ending), "");
  EXPECT_EQ(ending, LineEnding::EndOfInput);
}

}  // namespace
