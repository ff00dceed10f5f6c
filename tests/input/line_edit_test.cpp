// SPDX-License-Identifier: MIT
// The line editor in-process: key scripts typed into an invented xterm, with
// the returned line and the shadow screen checked; its history; its screen
// arithmetic; and its plain path when the terminal is not driven (the
// terminal's own line editing; here a pipe stands in for it).
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "runtime/input/input_internal.h"
#include "runtime/stream/stream.h"
#include "runtime/term/term_internal.h"
#include "tests/support/capture.h"
#include "tests/support/fixtures.h"

namespace {

const std::string kFahrenheitPrompt = "Input temperature in Fahrenheit: ";

// The character type of the locale, while alive (the terminal layer decides
// its encoding again).
class Locale {
 public:
  explicit Locale(const char* name) : saved_(std::setlocale(LC_CTYPE, nullptr)) {
    std::setlocale(LC_CTYPE, name);
    term.encoding = Encoding::Unknown;
  }
  ~Locale() {
    std::setlocale(LC_CTYPE, saved_.c_str());
    term.encoding = Encoding::Unknown;
  }

 private:
  std::string saved_;
};

// The editor driven in-process: keys typed from a script into an invented
// xterm of the given size (its output captured), a line per call.
class Editor {
 public:
  explicit Editor(int columns = 80, int rows = 24) {
    reset_console();
    term.screen.window_columns = columns;
    term.screen.window_rows = rows;
    term.screen.shadow.resize(columns, rows);
  }
  ~Editor() { reset_console(); }

  // Prints the prompt and edits a line with the keys (see key_script::typed).
  std::string line(std::string_view keys, const std::string& prompt = kFahrenheitPrompt, bool burst = false) {
    key_script::feed(key_script::typed(std::string(keys) + "<enter>", burst));
    print_string(CONSOLE, prompt, PRINT_LINE_OPEN);
    std::string line = line_edit(EDIT_WITH_TERMINAL_CURSOR, &ending, prompt, &memory);
    print_line_end(CONSOLE, PRINT_NEWLINE);
    return line;
  }
  // A row of the shadow screen (1-based), up to the line end written after the line.
  std::string row(int row) const {
    std::string text;
    for (int32_t column = 0; column < term.screen.window_columns; ++column)
      text.push_back(static_cast<char>(term.screen.shadow.character(row - 1, column)));
    return text.substr(0, text.find_first_of(std::string("\n\0", 2)));
  }

  EditMemory memory;
  LineEnding ending = LineEnding::Enter;

 private:
  CapturedStdout output_;
  InventedTerminal terminal_{key_script::reader, key_script::xterm_keys};
};

TEST(LineEditor, KeysShapeTheLine) {
  const struct {
    const char* name;
    const char* keys;
    const char* line;           // returned, and shown after the prompt
    const char* locale = "C";
    bool burst = false;         // all keys in one read, as fast typing or a paste sends them
  } cases[] = {
      {"insert in the middle", "22<left>1", "212"},
      {"home then end", "12<home>2<end>", "212"},
      {"left and right stop at the ends", "12<left><left><left>2<right><right><right><right>", "212"},
      {"backspace", "2139<bs><bs>2<home><bs>", "212"},
      {"delete under the cursor and at the end", "2212<home><del><end><del>", "212"},
      {"escape clears the line", "98765<left><esc>212", "212"},
      {"up and down within one row do nothing", "212<up><down>", "212"},
      {"tab to the next stop of eight", "2<tab>9", "2       9"},
      {"keys without an action are ignored", "2<c-g><c-t><f1><pgup><ins><m-up>12", "212"},
      {"Ctrl+A, Ctrl+E, Ctrl+B and Ctrl+F move", "12<c-a>2<c-e><c-b><c-b><c-f><c-f>", "212"},
      {"Ctrl+K kills to the end, Ctrl+Y yanks it back", "12<c-a><c-k>2<c-y>9<c-b><c-k>", "212"},
      {"Ctrl+U kills to the start", "99212<c-b><c-b><c-b><c-u><c-e>", "212"},
      {"Ctrl+W kills the blank-separated word before", "99 212<c-a><c-f><c-f><c-f><c-w>", "212"},
      {"Ctrl+D deletes under the cursor", "2212<c-a><c-d><c-e><c-d>", "212"},
      {"Ctrl+L clears the screen and draws the line at the top", "21<c-l>2", "212"},
      {"UTF-8: a two-byte and a wide character are one unit each", "1°<bs>2中<left>5", "125中", "C.UTF-8"},
      {"unknown keys lose nothing after them", "2<c-up>1<btab><m-x><linux-f1>2", "212", "C", true},
      {"Ctrl+Left and Ctrl+Right move by words", "2 99<c-left><c-left><c-right>12", "212 99"},
      {"Alt+B and Alt+F move by words", "2 99<m-b><m-b><m-f>12", "212 99"},
      {"Alt+Left as urxvt sends it moves by a word", "12<urxvt-m-left>2", "212"},
      {"Alt+D kills words after, gathered for Ctrl+Y", "2 12<c-a><m-d><m-d><c-y>", "2 12"},
      {"Alt+Backspace kills words before, gathered", "12 2<m-bs><m-bs><c-y>", "12 2"},
      {"an arrow whose rest stalls past ESCDELAY: its Escape is undone", "12<stalled-left>3", "132"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Locale locale(c.locale);
    Editor editor;
    EXPECT_EQ(editor.line(c.keys, kFahrenheitPrompt, c.burst), c.line);
    if (std::string(c.locale) == "C") {  // the shadow keeps a character's first byte: ASCII rows read as text
      EXPECT_EQ(editor.row(1), kFahrenheitPrompt + c.line);
    }
  }
}

// Each prompt has its own history; a draft typed before stepping back comes back past the newest.
TEST(LineEditor, EachPromptRecallsItsOwnHistory) {
  Editor editor;
  EXPECT_EQ(editor.line("1", "? "), "1");
  EXPECT_EQ(editor.line("212"), "212");
  EXPECT_EQ(editor.line("2", "? "), "2");
  EXPECT_EQ(editor.line("37", "Input temperature in Celsius: "), "37");
  // The choices were 1 and 2: up twice, down twice is back to what was typed, then up twice to 1.
  EXPECT_EQ(editor.line("3<up><up><down><down><c-p><c-p>", "? "), "1");
  EXPECT_EQ(editor.line("<up>"), "212");  // the last Fahrenheit temperature, not a choice
  EXPECT_EQ(editor.line("<c-n>5", "? "), "5");  // nothing newer than the line being typed
  EXPECT_EQ(editor.memory.histories["? "], (std::vector<std::string>{"1", "2", "1", "5"}));
}

TEST(LineEditor, CtrlDOnAnEmptyLineEndsTheInput) {
  Editor editor;
  EXPECT_EQ(editor.line("<c-d>"), "");
  EXPECT_EQ(editor.ending, LineEnding::EndOfInput);
}

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
