// SPDX-License-Identifier: MIT
// The line editor in-process: key scripts typed into an invented xterm, with
// the returned line and the shadow screen checked; its history; its screen
// arithmetic; and its plain path when the terminal is not driven (the
// terminal's own line editing; here a pipe stands in for it).
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/input/edit_memory.h"
#include "runtime/input/input_internal.h"
#include "runtime/input/line_layout.h"
#include "runtime/input/line_view.h"
#include "runtime/input/scrolled_row.h"
#include "runtime/stream/stream.h"
#include "runtime/term/term_internal.h"
#include "tests/support/capture.h"
#include "tests/support/fixtures.h"
#include "tests/support/temp_dir.h"
#include "tests/support/vt_screen.h"

namespace {

const std::string kFahrenheitPrompt = "Input temperature in Fahrenheit: ";

// The character type of the locale, while alive (the terminal layer decides
// its encoding again).
class Locale {
 public:
  explicit Locale(const char* name) : saved_(std::setlocale(LC_CTYPE, nullptr)) {
    std::setlocale(LC_CTYPE, name);
    forget_encoding();
  }
  ~Locale() {
    std::setlocale(LC_CTYPE, saved_.c_str());
    forget_encoding();
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
    InventedTerminal::set_window(columns, rows);
  }
  ~Editor() { reset_console(); }

  // Prints the prompt and edits a line with the keys (see key_script::typed).
  // Without enter, the keyboard ends after the keys: the screen is left as they left it.
  std::string line(std::string_view keys, const std::string& prompt = kFahrenheitPrompt, bool burst = false,
                   bool enter = true) {
    key_script::feed(key_script::typed(std::string(keys) + (enter ? "<enter>" : ""), burst));
    print_string(CONSOLE, prompt, PRINT_LINE_OPEN);
    std::string line = line_edit(EDIT_WITH_TERMINAL_CURSOR, &ending, prompt, &memory);
    if (enter) print_line_end(CONSOLE, PRINT_NEWLINE);
    return line;
  }
  // What a terminal shows after all that was written (one byte a cell: ASCII
  // rows read as text). It starts with the cursor on its bottom row, where the
  // view takes the prompt to be with no terminal to ask; the line end after a
  // line then scrolls the prompt's row up one.
  VtScreen screen() {
    int32_t columns = 0, rows = 0;
    term_window_size(&columns, &rows);
    VtScreen screen(columns, rows, term_text_utf8(), term_wraps_late());
    screen.feed(std::string(static_cast<std::size_t>(rows - 1), '\n'));
    screen.feed(output_.text());
    return screen;
  }
  std::string row(int row) { return screen().row_text(row); }
  std::string written() { return output_.text(); }
  // The lowest row that begins with text (a prompt, its trailing blanks
  // aside), or "" if none does.
  std::string row_starting(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    const VtScreen shown = screen();
    for (int row = shown.rows(); row >= 1; --row) {
      if (shown.row_text(row).rfind(text, 0) == 0) return shown.row_text(row);
    }
    return "";
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
    std::string line;           // returned, and shown after the prompt
    const char* locale = "C";
    bool burst = false;         // all keys in one read, as fast typing or a paste sends them
    const char* shown = nullptr;  // what the row shows when it is not the line itself
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
      {"Alt with a capital letter is Alt with the small one", "12 34<m-B>5", "12 534"},
      {"an Escape taken back keeps deletions gathering", "ab cd ef<home><c-del><stalled-c-del><c-y>", "ab cd ef"},
      {"a character sent by its code point, in a one-byte locale: its byte", "2<u-eacute>", "2\xE9"},
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
      {"Ctrl+Delete kills the word after, as Alt+D", "12 34<c-a><c-del>5", "5 34"},
      {"the keypad's keys are the keys they are labelled with", "<kp-minus><kp-4><kp-point><kp-0>", "-4.0"},
      {"keys as CSI u and modifyOtherKeys send them", "40<u-c-a>-<mok-c-e>9<u-esc>12<u-enter>3", "12"},
      {"a paste is text: no byte in it acts as a key, a Tab is its blanks", "<paste>1\x15\x1b" "2\t3</paste>",
       "12      3", "C", true},
      {"a paste is one undo step, however long", "9<paste>1234567890123456789012\t345</paste><c-_>", "9", "C", true},
      {"a line break in a paste ends the line", "<paste>212\r37</paste>", "212", "C", true},
      {"Ctrl+V before a paste puts it in as it is", "1<c-v><paste>2\r3</paste>", "12\r3", "C", true, "12?3"},
      {"an arrow whose rest stalls past ESCDELAY: its Escape is undone", "12<stalled-left>3", "132"},
      {"... and a count before it kept", "12345<m-3><stalled-left>9", "129345"},
      {"... and Ctrl+V before it still waiting", "1<c-v><stalled-left>2", "12"},
      {"... and Ctrl+X before it", "12<c-x><stalled-left>3", "123"},
      // Readline's editing, each row as bash's read -e gives it.
      {"Ctrl+T swaps the last two characters at the end", "12<c-t>", "21"},
      {"Ctrl+T swaps around the cursor and moves past both", "abc<left><c-t>", "acb"},
      {"Ctrl+T with a count drags the character over that many", "84axy<left><left><left><m-2><c-t>", "8ax4y"},
      {"... over as many as there are", "84axy<left><m-3><c-t>", "84ayx"},
      {"... and at the end swaps the last two once", "84axy<m-2><c-t>", "84ayx"},
      {"... a negative count does nothing", "84axy<left><left><left><m--><m-2><c-t>", "84axy"},
      {"Alt+T swaps the words around the cursor", "abc def<m-t>", "def abc"},
      {"Alt+T with no word before does nothing", "abc def<c-a><m-t>", "abc def"},
      {"Alt+C capitalizes and Alt+U upcases from the cursor", "hello world<c-a><m-c><m-u>", "Hello WORLD"},
      {"Alt+L downcases", "ABC<c-a><m-l>", "abc"},
      {"Alt+U on a two-byte character", "é<c-a><m-u>", "É", "C.UTF-8"},
      {"Alt+\\ deletes the blanks around the cursor", "ab   cd<m-b><m-b><m-f><m-\\>", "abcd"},
      {"Alt+3 repeats a character", "<m-3>x", "xxx"},
      {"Alt+1 2 repeats twelve times", "<m-1>2-", "------------"},
      {"a count repeats a command", "hello<m-b><m-3><c-d>", "lo"},
      {"a negative count turns a command around", "abc<c-a><m--><m-2><c-b>X", "abXc"},
      {"Ctrl+_ undoes a deletion", "123<bs><c-_>", "123"},
      {"a run of typed characters is one undo group", "ab cd<c-_>", ""},
      {"typing after a move is a group of its own", "12<left>3<c-_>", "12"},
      {"Ctrl+X Ctrl+U undoes too", "12 34<c-w><c-x><c-u>", "12 34"},
      {"undoing everything, then typing", "ab<c-_><c-_>x", "x"},
      {"Alt+Y after Ctrl+Y yanks the kill before", "12 34<m-bs><c-a><c-k><c-y><m-y>", "34"},
      {"Alt+Y goes round the ring", "1 2<m-bs><c-a><c-k><c-y><m-y><m-y>", "1 "},
      {"Alt+Y after anything but a yank does nothing", "12<c-w>3<m-1><m-y>", "3"},
      {"Escape's clearing is a kill: Ctrl+Y brings it back", "12 345<esc><c-y>", "12 345"},
      {"... and undo does too", "12 345<esc><c-_>", "12 345"},
      {"Ctrl+V puts a control byte in as it is", "1<c-v><c-a>2", "1\x01" "2", "C", false, "1?2"},
      // Counts as readline takes them.
      {"a count repeats a character of several bytes", "<m-3>é", "ééé", "C.UTF-8"},
      {"a byte that completes a character with the one after it: the cursor goes after it", "\xA9<left>\xC3<c-g>x",
       "éx", "C.UTF-8"},
      {"a search's match that begins with a mark puts the cursor on its character", "e\xCC\x81x<c-r>\xCC\x81<c-k>", "",
       "C.UTF-8"},
      {"a negative count types nothing", "1<m-->x2", "12"},
      {"- after a count's digits is typed that many times", "<m-2><m-->", "--"},
      {"Backspace with a count kills: Ctrl+Y brings it back", "12345<m-2><bs><c-a><c-y>", "45123"},
      {"Ctrl+V takes a count, and an Alt key as its ESC", "<m-3><c-v>x1<c-v><m-t>", "xxx1\x1bt", "C", false, "xxx1?t"},
      {"a negative count on Alt+U changes the word before", "abc def<m--><m-u>x", "abc DEFx"},
      {"Alt+2 Alt+T swaps with the word two back", "a b c<m-2><m-t>", "c b a"},
      {"Ctrl+Y takes no count, Ctrl+U no sign", "ab<c-w><m-3><c-y>c<left><m--><c-u>", "c"},
      {"a count before Ctrl+D on an empty line does nothing", "<m-3><c-d>5", "5"},
      {"the ring keeps ten kills", "0<c-u>1<c-u>2<c-u>3<c-u>4<c-u>5<c-u>6<c-u>7<c-u>8<c-u>9<c-u>x<c-u><c-y>"
       "<m-y><m-y><m-y><m-y><m-y><m-y><m-y><m-y><m-y><m-y>", "x"},
      // Undo steps as readline's: typing joins the insertion it follows, twenty bytes at most.
      {"typing joins across keys that change nothing", "12<c-b><c-f>3<c-_>", ""},
      {"twenty typed characters are one undo step", "abcdefghijklmnopqrstuvwxy<c-_>", "abcdefghijklmnopqrst"},
      {"undoing a kill puts the cursor after what came back", "ab<c-a><c-k><c-_>x", "abx"},
      {"Tab stops count cells", "é<tab>x", "é       x", "C.UTF-8"},
      {"a count of Tabs is that many stops; a paste's Tabs count the cells before them",
       "é<m-2><tab>x<paste>中\t中\ty</paste>",
       "é" + std::string(15, ' ') + "x中" + std::string(5, ' ') + "中" + std::string(6, ' ') + "y", "C.UTF-8", true},
      // Readline's other default keys.
      {"Ctrl+] moves onto the next such character", "a1b1c<c-a><c-]>1X", "aX1b1c"},
      {"Alt+Ctrl+] onto the one before, a count that many", "a1b1c1<m-2><m-c-]>1X", "a1bX1c1"},
      {"Ctrl+@ sets the mark, Ctrl+X Ctrl+X swaps it with the cursor", "12<c-@>34<c-x><c-x>X", "12X34"},
      {"Ctrl+X and a key it has nothing for are nothing", "12<c-x>a3", "123"},
      {"Ctrl+G cancels a count", "<m-3><c-g>x", "x"},
      {"Alt+# takes the line as a comment", "212<left><m-#>9", "#212"},
      {"Ctrl+X ( records keys, Ctrl+X e types them again", "<c-x>(12<c-x>)<c-x>e<m-2><c-x>e", "12121212"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Locale locale(c.locale);
    Editor editor;
    EXPECT_EQ(editor.line(c.keys, kFahrenheitPrompt, c.burst), c.line);
    if (std::string(c.locale) == "C") {  // a byte a cell: ASCII rows read as text
      std::string shown = kFahrenheitPrompt + (c.shown != nullptr ? std::string(c.shown) : c.line);
      while (!shown.empty() && shown.back() == ' ') shown.pop_back();
      EXPECT_EQ(editor.row_starting(kFahrenheitPrompt), shown);
    }
  }
}

// What a key adds to the output: what readline writes for it, not a byte
// more, and the screen shows the line.
TEST(LineEditor, AKeyWritesWhatReadlineWrites) {
  Locale utf8("C.UTF-8");
  auto written = [](const std::string& keys) {
    Editor editor;
    editor.line(keys, kFahrenheitPrompt, false, /*enter=*/false);
    return editor.written();
  };
  const struct {
    const char* before;
    const char* key;
    const char* bytes;  // nullptr: the screen alone
    const char* line;
  } cases[] = {
      {"212", "3", "3", "2123"},               // typed at the end: the character alone
      {"212", "<left>", "\b", "212"},          // a step back: a backspace
      {"212", "<bs>", "\b \b", "21"},          // rubbed out at the end: back, a blank, back
      {"21", "\xCD\xB8", nullptr, "21\xEF\xBF\xBD"},  // a character the locale cannot show: a stand-in
      {"a \xCC\x81" "b", "<c-w>", "\b\b  \b", "a"},  // the mark taken off the blank it was on: the blank drawn again
      {"212<home>", "3", "\033[?25l\b\b\b3212\b\b\b\033[?25h", "3212"},  // more cells than a few: the cursor hidden meanwhile
      {"21212121212121212121212121212121212121212121212<left><left><left>", "<c-k>", "\033[?25l\b\033[K\033[?25h",
       "21212121212121212121212121212121212121212121"},  // blanks up to a row's edge: cleared, never written
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    const std::string before = written(c.before);
    const std::string after = written(std::string(c.before) + c.key);
    std::size_t prefix = 0, suffix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) ++prefix;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
      ++suffix;
    if (c.bytes != nullptr) {
      EXPECT_EQ(after.substr(prefix, after.size() - prefix - suffix), c.bytes);
    }
    Editor editor;
    editor.line(std::string(c.before) + c.key, kFahrenheitPrompt, false, /*enter=*/false);
    EXPECT_EQ(editor.row_starting(kFahrenheitPrompt), kFahrenheitPrompt + c.line);
  }
}

// A line taller than the window: the screen shows the rows around the
// cursor, exactly as the prompt and the line lay out, wherever keys take it,
// on a terminal that wraps late (xterm) and on one that wraps at once, where
// the bottom-right cell is never written (a cursor there scrolls a row more).
TEST(LineEditor, ALineTallerThanTheWindowShowsTheRowsAroundTheCursor) {
  constexpr int kColumns = 20, kRows = 5;
  std::string digits;
  for (int i = 0; i < 108; ++i) digits += static_cast<char>('0' + i % 10);
  const struct {
    const char* keys;
    std::string line;
    std::size_t position;
    int top;  // the row of the prompt and the line shown on the top row
    int top_at_once = -1;  // ... on a terminal that wraps at once, where it differs
  } cases[] = {
      {"", digits, 108, 3},                        // typed: its last rows, the cursor on the bottom one
      {"<home>", digits, 0, 1},                    // back at its start: that row on top
      {"<home>99", "99" + digits, 2, 1},
      {"<home>99<end>", "99" + digits, 110, 3},
      {"<home><c-l>", digits, 0, 0},               // cleared: the prompt's first row on top
      {"<home>99<end><c-l>", "99" + digits, 110, 3},
      {"<home><down><down><down><down><down>", digits, 100, 2},  // a row past the bottom: one row scrolls
      {"<up><down>", digits, 108, 3},              // down onto the line's end, the cell after its last digit
      {"<home><down><down><down><down><down><right><right><right><right><right><right>", digits, 106, 2, 3},  // the bottom-right cell
      {"<home><c-k>", "", 0, 1},                   // the rows below are blanked
  };
  for (const bool late : {true, false}) {
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.keys) + (late ? "" : ", wrapping at once"));
    Editor editor(kColumns, kRows);
    term.device.late_wrap = late;
    EXPECT_EQ(editor.line(digits + c.keys, kFahrenheitPrompt, false, /*enter=*/false), c.line);
    const std::string text = kFahrenheitPrompt + c.line;
    const VtScreen screen = editor.screen();
    const int top = !late && c.top_at_once >= 0 ? c.top_at_once : c.top;
    for (int row = 1; row <= kRows; ++row) {
      const std::size_t from = std::min(text.size(), static_cast<std::size_t>((top + row - 1) * kColumns));
      std::string expected = text.substr(from, !late && row == kRows ? kColumns - 1 : kColumns);
      while (!expected.empty() && expected.back() == ' ') expected.pop_back();
      EXPECT_EQ(screen.row_text(row), expected) << "row " << row;
    }
    const std::size_t cursor = kFahrenheitPrompt.size() + c.position;
    EXPECT_EQ(screen.column(), static_cast<int>(cursor % kColumns) + 1);
    EXPECT_EQ(screen.row(), static_cast<int>(cursor / kColumns) - top + 1);
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
  EXPECT_EQ(editor.memory.histories["? "].entries, (std::vector<std::string>{"1", "2", "1", "5"}));
}

// Readline's history keys: edits of recalled lines kept while walking (and
// the history itself unchanged), Alt+R, Alt+< and Alt+>, and the search.
TEST(LineEditor, HistoryEditsRevertAndSearch) {
  const struct {
    const char* keys;
    const char* line;
  } cases[] = {
      {"<up>9<up><down>", "2129"},         // the edit of 212 kept while stepping away and back
      {"<up>9<up><down><m-r>", "212"},     // Alt+R: the entry as it was shown
      {"<m-<>", "100"},                    // Alt+<: the first entry
      {"<up><up><m-gt>5", "5"},            // Alt+>: the line being typed
      {"<c-r>10<right>", "100"},           // a search, then a key that takes the line and acts
      {"<c-r>1<c-r><enter>", "100"},       // Ctrl+R again: the next older match; Enter takes it
      {"78<left><c-r>21<c-g>9", "798"},    // Ctrl+G gives up: the line and its cursor as before the search
      {"<c-r>2<c-s><enter>", "212"},       // Ctrl+S: forward again
      {"<c-r>109<bs><enter>", "100"},      // Backspace takes back the query's last character
      {"<c-r>109<bs><bs><bs><enter>", "212"},  // ... down to nothing: the last match stays
      {"12<c-r>7<del>", "2"},              // a failed search leaves the cursor at the line's start
      {"5<c-r>21<stalled-left><enter>", "212"},  // an arrow stalled on the link leaves the search as it was
      {"<m--><c-r>1<enter>", ""},          // a negative count searches the other way: nothing newer
      {"<m-.><m-.>", "100"},               // Alt+.: the last word of the line before, again of the one before that
      {"<m-.><m-.><m--><m-.>", "212"},     // ... a negative count turns the way round
      {"x <m-0><m-c-y>", "x 212"},         // Alt+Ctrl+Y: the word a count numbers
      {"x <m-c-y>", "x "},                 // ... the second word, which a line of one has not
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    Editor editor;
    editor.memory.histories[kFahrenheitPrompt].entries = {"100", "212"};
    EXPECT_EQ(editor.line(c.keys), c.line);
    EXPECT_EQ(editor.memory.histories[kFahrenheitPrompt].entries.front(), "100");  // the history itself unchanged
  }
  {  // Backspace in a query takes back a whole character
    Locale utf8("C.UTF-8");
    Editor editor;
    editor.memory.histories[kFahrenheitPrompt].entries = {"é1 x"};
    EXPECT_EQ(editor.line("<c-r>é1<bs><c-e>"), "é1 x");
    EXPECT_EQ(editor.line("<c-r><u-eacute><enter>"), "é1 x");  // a character sent by its code point
  }
  // While searching or typing a count, the prompt's row shows readline's
  // search prompt with the match or its failure, or the count.
  for (const auto& [keys, row] : {std::pair{"<c-r>10", "(reverse-i-search)`10': 100"},
                                  std::pair{"<c-r>109", "(failed reverse-i-search)`109': 100"},
                                  std::pair{"12<m-->3", "(arg: -3) 12"},
                                  std::pair{"85 4<c-a><c-r><c-w><c-w>", "(reverse-i-search)`85': 85 4"},  // the word after the match
                                  std::pair{"85 4<c-a><c-r><c-y>", "(reverse-i-search)`85 4': 85 4"}}) {  // the rest
    Editor editor;
    editor.memory.histories[kFahrenheitPrompt].entries = {"100", "212"};
    editor.line(keys, kFahrenheitPrompt, false, /*enter=*/false);
    EXPECT_EQ(editor.row(24), row);  // no line end: the prompt's row is the bottom one
  }
}

// An inputrc's bindings at work, each row as bash's read -e gives it with
// the same file and the history 212, -40, 2000.
TEST(LineEditor, TheInputrcBindsAsReadline) {
  TempDir folder("inputrc");
  const std::string included = folder.write("included", "\"\\C-]\": end-of-line\n");
  ASSERT_FALSE(included.empty());
  const std::string arrows = "\"\\e[A\": history-search-backward\n\"\\e[B\": history-search-forward\n";
  const std::string substring =
      "\"\\e[A\": history-substring-search-backward\n\"\\e[B\": history-substring-search-forward\n";
  const struct {
    std::string inputrc;
    const char* keys;
    const char* line;
  } cases[] = {
      {arrows, "2<up><up>", "212"},                // Up as this terminal sends it, whatever the file spells
      {arrows, "2<up><up><up><down>X", "2X000"},   // none older: the bell; the cursor after what was typed
      {arrows, "<up><up>X", "-40X"},               // nothing typed: the lines in turn, the cursor at their end
      {substring, "0<up>X", "200X0"},              // the text's last place in the line found going back
      {substring, "0<up><up><down>X", "2X000"},    // ... its first going forward
      {"\"\\ex\": \"212\"", "<m-x>", "212"},      // a macro types its text
      {"\"\\ex\": \"\\ex1\"", "<m-x>", "1111111111111111"},  // one that types itself ends
      {"\"\\C-t\": backward-char", "12<c-t>3", "132"},
      {"\"\\eB\": do-lowercase-version", "12 34<m-B>5", "12 534"},  // Alt+B bound so does what Alt+b does
      {"\"\\C-t\": no-such-function\nnonsense", "12<c-t>", "21"},  // skipped: the default stays
      {"$include " + included, "12<home><c-]>3", "123"},
      {"$if mode=vi\n\"\\C-t\": backward-char\n$endif", "12<c-t>", "21"},
      {"\"\\C-o\": overwrite-mode", "1234<c-a><c-o>99", "9934"},
      {"\"\\C-o\": overwrite-mode", "1234<left><left><c-o><bs>", "1 34"},
      {"\"\\C-o\": copy-forward-word", "ab cd<c-a><c-o><c-e><c-y>", "ab cdab"},
      {"\"\\C-o\": copy-forward-word", "ab cd<m-b><c-o><c-e><c-y>", "ab cdcd"},
      {"\"\\C-o\": kill-region", "12345<c-a><right><c-@><c-e><c-o>9<c-y>", "192345"},
      {"\"\\C-o\": kill-whole-line", "12 34<left><c-o>5<c-y>", "512 34"},
      {"\"\\C-o\": unix-filename-rubout", "a/b//  <c-o>x", "a/x"},
      {"set isearch-terminators x", "<c-r>21x9", "9212"},      // x ends the search, the line found stays
      {"set history-preserve-point on", "12<left><up>X", "2X000"},
      {"set history-preserve-point on", "12<left><up><up>X", "-X40"},
      {"set history-preserve-point on", "12<up>X", "2000X"},   // from the end: at the end
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.inputrc + " | " + c.keys);
    Editor editor;
    editor.memory.histories[kFahrenheitPrompt].entries = {"212", "-40", "2000"};
    editor.memory.read_settings = edit_settings_from(c.inputrc);
    EXPECT_EQ(editor.line(c.keys), c.line);
  }
  // The bell as bell-style has it; the mode's string before the prompt; how many lines a history keeps.
  for (const auto& [inputrc, bell, paste, keypad_off] :
       {std::tuple{"", true, true, false}, {"set bell-style none", false, true, false},
        {"set enable-bracketed-paste off", true, false, false}, {"set enable-keypad off", true, true, true}}) {
    Editor editor;
    editor.memory.read_settings = edit_settings_from(inputrc);
    editor.line("1<del>");
    EXPECT_EQ(editor.written().find('\a') != std::string::npos, bell) << inputrc;
    EXPECT_EQ(editor.written().find("\033[?2004h") != std::string::npos, paste) << inputrc;
    EXPECT_EQ(editor.written().find("\033[?1l\033>") != std::string::npos, keypad_off) << inputrc;  // xterm's "ke"
  }
  for (const auto& [keys, row] : {std::pair{"12", "(ins)Input temperature in Fahrenheit: 12"},
                                  {"12<esc>", "(cmd)Input temperature in Fahrenheit: 12"},
                                  {"<up>", "Input temperature in Fahrenheit: 2000"},
                                  {"<up>9", "*Input temperature in Fahrenheit: 20009"}}) {
    Editor editor;
    editor.memory.histories[kFahrenheitPrompt].entries = {"2000"};
    editor.memory.read_settings = edit_settings_from(std::string(keys).starts_with("12")
                                                         ? "set editing-mode vi\nset show-mode-in-prompt on"
                                                         : "set mark-modified-lines on");
    editor.line(keys, kFahrenheitPrompt, false, /*enter=*/false);
    EXPECT_EQ(editor.row(24), row);
  }
  {
    Editor editor;
    editor.memory.read_settings = edit_settings_from("set history-size 1");
    editor.line("1");
    editor.line("2");
    EXPECT_EQ(editor.memory.histories[kFahrenheitPrompt].entries, std::vector<std::string>{"2"});
  }
  {  // horizontal-scroll-mode: one row that scrolls sideways, never onto the row below
    std::string digits;
    for (int i = 0; i < 6; ++i) digits += "1234567890";
    for (const auto& [keys, row] :
         {std::pair{digits, "<heit: " + digits}, {digits + "<c-u>", std::string("Input temperature in Fahrenheit:")}}) {
      Editor editor;
      editor.memory.read_settings = edit_settings_from("set horizontal-scroll-mode on");
      EXPECT_EQ(editor.line(keys, kFahrenheitPrompt, false, /*enter=*/false), keys == digits ? digits : "");
      EXPECT_EQ(editor.row(24), row);
      EXPECT_EQ(editor.row(23), "");
    }
  }
  // An edit of a history line outlives its line, as readline keeps it, unless revert-all-at-newline.
  for (const auto& [inputrc, later] : {std::pair{"", "-4"}, {"set revert-all-at-newline on", "-40"}}) {
    Editor editor;
    editor.memory.histories[kFahrenheitPrompt].entries = {"212", "-40"};
    editor.memory.read_settings = edit_settings_from(inputrc);
    EXPECT_EQ(editor.line("<up><bs><up>"), "212");
    EXPECT_EQ(editor.line("<up><up>"), later) << inputrc;
  }
  {  // Ctrl+X Ctrl+R reads the file INPUTRC names again
    const std::string inputrc = folder.write("inputrc", "\"\\C-t\": backward-char\n");
    ASSERT_FALSE(inputrc.empty());
    setenv("INPUTRC", inputrc.c_str(), 1);
    Editor editor;
    editor.memory.read_settings = edit_settings_from("");
    EXPECT_EQ(editor.line("12<c-t><c-x><c-r>3<c-t>4"), "2143");
    setenv("INPUTRC", "/dev/null", 1);
  }
}

// vi mode, each row as bash's read -e gives it with "set editing-mode vi"
// and the history 212, -40, 2000.
TEST(LineEditor, ViModeAsReadline) {
  const struct {
    const char* keys;
    const char* line;
    bool burst = false;  // Escape and the next key at once: Alt with it, which vi mode takes apart
  } cases[] = {
      {"385<esc>t2<esc><bs>wdd<esc>ES8", "8"},
      {"385<esc>t2<esc><bs>wdd<esc>ES8", "8", true},
      {"1 23<esc>biX", "1 X23"},
      {"ab cd<esc>0cwX<esc>", "X cd"},       // cw changes to the word's end
      {"ab  cd<esc>0cwX", "X  cd"},
      {"a b<esc>0cw9", "9 b"},
      {"ab cd<esc>3|cw9", "ab9cd"},
      {"ab cd<esc>0dw", "cd"},               // dw takes the blanks after the word
      {"abcabc<esc>0d3fc", ""},              // a count past the occurrences: as far as they go
      {"ab<esc>0cfcx", "xb"},                // c over a search that finds nothing: the character there
      {"ab<esc>cFcx", "axb"},                // ... none going back
      {"ab<esc>pdlx", "a"},                  // past the end after p with nothing killed, until the next command
      {"34<esc>pUx", "3"},
      {"5aAc<esc>3Taa9", "5aA9c"},
      {"a.b c<esc>0dWx", ""},
      {"ab cd ef<esc>02bdeiX", "X cd ef"},   // de takes the character it stops on
      {"a b c d<esc>0d2w", "c d"},           // a count after the operator
      {"a b c d<esc>02dw", "c d"},           // ... or before it
      {"abcdef<esc>02x", "cdef"},
      {"abc<esc>0~~", "ABc"},
      {"abc<esc>0rx", "xbc"},
      {"ab<esc>h5rx", "xx"},                 // a count past the end: those there are
      {"abc<esc>0Ryz<esc>", "yzc"},
      {"a(b)c<esc>0%iX", "a(bX)c"},
      {"abc<esc>0yyP", "abcabc"},
      {"12<stalled-left><right>3<esc>.", "121233"},  // an insert goes on through an arrow whose Escape stalled
      {"12<esc>0ylp", "112"},
      {"12 34<esc>0dwP", "12 34"},
      {"ab cd<esc>0fcD", "ab "},
      {"ab cd<esc>0tcC9", "ab9"},
      {"1,2,3<esc>0f,;D", "1,2"},            // ; the last f again
      {"1,2,3<esc>$F,,D", "1,2"},            // , the other way: none, and D from where F stopped
      {"12345<esc>03|D", "12"},
      {"ab<esc>cc9", "9"},
      {"abc<esc>hhix<esc>..", "xxxabc"},     // . repeats the last change
      {"x1<esc>3.<esc>", "xx1x1x11"},        // ... an insertion count times
      {"<esc>.c~", "c~"},                    // ... an empty one: insert mode, left on
      {"<esc>.c~", "c~", true},
      {"abc<esc>U", "abc"},                  // the line as first typed is where u and U stop
      {"abc<esc>hU<bs>x", "ac"},             // ... U with nothing to undo leaves the cursor
      {"abc<esc>idd<esc>U", "abc"},
      {"123<esc>kX", "2000"},                // k: the history, the cursor at the start
      {"2pn2<esc>/2<enter>paE", "20E00"},    // /: searched; p with nothing killed still moves
      {"ab<esc>cpiX", "aXb"},                // an operator with no motion is nothing
      {"c<esc>p3c,w", "cw"},                 // ... but , with no search before is one; p moved past the end
      {"abc<esc>c<bs>X", "ac"},              // ... Backspace is none: c is nothing, X rubs out
      {"xja<esc><bs>D", "xj"},               // Backspace does nothing in command mode, as in readline 8.2
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    Editor editor;
    editor.memory.histories[kFahrenheitPrompt].entries = {"212", "-40", "2000"};
    editor.memory.read_settings = edit_settings_from("set editing-mode vi");
    EXPECT_EQ(editor.line(c.keys, kFahrenheitPrompt, c.burst), c.line);
  }
  Editor editor;  // Alt+Ctrl+J: vi mode from there on, for the lines after too
  editor.memory.read_settings = edit_settings_from("");
  EXPECT_EQ(editor.line("1<m-c-j>2<esc>0x"), "2");
  EXPECT_EQ(editor.line("34<esc>0x"), "4");
}

TEST(LineEditor, CtrlDOnAnEmptyLineEndsTheInput) {
  Editor editor;
  EXPECT_EQ(editor.line("<c-d>"), "");
  EXPECT_EQ(editor.ending, LineEnding::EndOfInput);
}

// The sideways row: each step is the line and cursor after a key, in a row
// of ten cells after the lead "P: "; the window moves only when the cursor
// would leave it, and "<" and ">" mark what lies beyond its edges.
TEST(ScrolledRow, TheWindowFollowsTheCursorByThirds) {
  Locale locale("C.UTF-8");
  const struct {
    std::vector<std::pair<std::string, std::size_t>> steps;
    std::string row;
    int32_t cursor;
  } cases[] = {
      {{{"012345", 6}}, "P: 012345", 9},                              // it fits, the cursor after it too
      {{{"0123456", 7}}, "<0123456", 8},                              // one more: a third of the row to its right
      {{{"0123456", 7}, {"0123456", 0}}, "<0123456", 1},              // back at the start: still in the window
      {{{"0123456789abc", 13}}, "<6789abc", 8},
      {{{"0123456789abc", 13}, {"0123456789abc", 6}}, "<6789abc", 1},     // within the window: it stays
      {{{"0123456789abc", 13}, {"0123456789abc", 5}}, "<456789abc", 2},   // onto the marker: a third back
      {{{"0123456789abc", 13}, {"0123456789abc", 0}}, "P: 012345>", 3},    // ... at a multiple of a third
      {{{"0123456789abc", 13}, {"0123", 4}}, "P: 0123", 7},           // shorter than the row: all of it
      {{{"中中中中中", 15}}, "< 中中中", 8},                           // a wide character cut by the marker
      {{{"中中中中中", 15}, {"中中中中中", 0}}, "P: 中中中>", 3},
  };
  for (const auto& c : cases) {
    ScrolledRow row;
    ScrolledRow::Shown shown;
    for (const auto& [line, position] : c.steps) shown = row.lay_out("P: ", line, position, 10);
    std::string text;
    for (const std::string& cell : shown.cells) text += cell;
    SCOPED_TRACE(c.steps.back().first + " at " + std::to_string(c.steps.back().second));
    EXPECT_EQ(text, c.row);
    EXPECT_EQ(shown.cursor, c.cursor);
    EXPECT_LE(shown.cells.size(), 10u);
  }
}

// The layout kept across edits agrees with the line laid out afresh, unit by
// unit, whatever the edits: seeded replacements of text mixing ASCII, wide
// characters, marks and broken UTF-8 (bytes that join the ones around them),
// in lines of many blocks (small ones too, so that edits meet their edges),
// at several widths. The first edits join units across a block's edge.
TEST(LineLayout, KeptAcrossEditsAgreesWithALayoutAfresh) {
  Locale locale("C.UTF-8");
  const std::string pieces[] = {"a", "中", "é", "e\xCC\x81", "\xCC\x81", "\xC3", "\xA9", "\xE4", "\xB8", "\xB8\xB8",
                                "\t", std::string(40, 'x'), std::string(3000, 'y')};
  std::mt19937 random(27);
  for (const auto& [width, block_bytes] : {std::pair{1, 8}, {2, 1024}, {7, 8}, {80, 1024}, {80, 3}}) {
    SCOPED_TRACE(width);
    LineLayout kept(block_bytes);
    kept.set_geometry(5, width);
    std::string line;
    const std::string edge(static_cast<std::size_t>(block_bytes), 'x');
    constexpr std::size_t kAll = std::string::npos;
    const struct {
      std::size_t at, removed;
      std::string text;
    } first_edits[] = {
        {0, 0, edge + "\xB8\xB8" + edge},                 // a block ends before the lone continuation bytes
        {edge.size(), 0, "\xE4"},                         // ... which now complete a character begun in the block before
        {0, kAll, edge.substr(1) + "\xE4" + edge},        // a block ends with a lead byte
        {edge.size(), 0, "\xB8\xB8"},                     // ... which the bytes after it complete
        {0, kAll, edge.substr(1) + "\xE4\xB8!" + edge},   // a block ends with a lead byte, the next begins with a lone continuation
        {edge.size() + 1, 0, "\xB8"},                     // ... which one typed after it joins to the lead across the edge
        {0, kAll, edge.substr(1) + "a\xF0\x9D\x85" + edge},  // a block begins with three bytes of a 4-byte mark
        {edge.size() + 3, 0, "\xA7"},                    // ... whose last makes it the mark of the unit before
        {0, kAll, edge + edge},                           // two blocks ...
        {0, edge.size(), ""},                             // ... and the first taken out whole
    };
    for (std::size_t edit = 0; edit < 300; ++edit) {
      std::string text;
      std::size_t at = 0, removed = 0;
      if (edit < std::size(first_edits)) {
        at = first_edits[edit].at;
        removed = std::min(first_edits[edit].removed, line.size());
        text = first_edits[edit].text;
      } else {
        for (std::size_t n = random() % 4; n > 0; --n) text += pieces[random() % std::size(pieces)];
        at = random() % (line.size() + 1);
        removed = std::min<std::size_t>(random() % 40, line.size() - at) * (random() % 2);
      }
      line.replace(at, removed, text);
      kept.changed(at, removed, text.size());
      // Afresh: each unit's first cell, a wide one that would cross the margin on the next row.
      std::vector<std::size_t> starts;
      std::vector<int64_t> cells;
      int64_t offset = 5;
      for (std::size_t i = 0; i < line.size();) {
        const TextUnit unit = text_unit_at(line, i);
        if (unit.cells > 1 && offset % width + unit.cells > width) offset += width - offset % width;
        starts.push_back(i);
        cells.push_back(offset);
        offset += unit.cells;
        i += unit.length;
      }
      ASSERT_EQ(kept.end(line), offset) << "edit " << edit;
      const bool every_unit = edit < std::size(first_edits) && starts.size() <= 64;
      for (std::size_t probe = 0; probe < (every_unit ? starts.size() : 8) && !starts.empty(); ++probe) {
        const std::size_t u = every_unit ? probe : random() % starts.size();
        ASSERT_EQ(kept.offset_of(line, starts[u]), cells[u]) << "edit " << edit;
        ASSERT_EQ(kept.unit_holding(line, starts[u] + text_unit_at(line, starts[u]).length - 1), starts[u]);
        // A unit's cell finds the last unit shown there (marks at a line's start take none).
        std::size_t last = u;
        while (last + 1 < starts.size() && cells[last + 1] <= cells[u]) ++last;
        ASSERT_EQ(kept.index_at(line, cells[u]), last + 1 == starts.size() && offset <= cells[u] ? line.size() : starts[last]);
      }
    }
  }
}

// What the editor remembers, without the editor: the ring's order and its
// bound, gathering and taking back; undo groups and where they leave the
// cursor; a walk that keeps edits apart from the history it walks.
TEST(EditMemory, KillRingUndoListAndHistoryWalk) {
  KillRing ring;
  for (int i = 0; i < 12; ++i) ring.kill(std::to_string(i), KillRing::Gather::New);
  ring.kill("+", KillRing::Gather::Append);
  ring.kill("-", KillRing::Gather::Prepend);
  EXPECT_EQ(ring.newest(), "-11+");
  std::string seen;
  for (int i = 0; i < 10; ++i) seen += ring.previous() + " ";
  EXPECT_EQ(seen, "10 9 8 7 6 5 4 3 2 -11+ ");  // ten kept, round the ring
  ring.take_back(KillRing::Gather::Prepend, 1);
  EXPECT_EQ(ring.newest(), "11+");

  UndoList undo;
  std::string line = "ab";
  undo.record(0, "", "ab", 0, true, false);
  undo.record(2, "", "c", 2, true, false);  // typed where the insertion ended: one group
  line = "abc";
  undo.record(0, "a", "", 1, false, false);
  line = "bc";
  std::size_t cursor = 0;
  const UndoList::Changed ignore = [](std::size_t, std::size_t, std::size_t) {};
  ASSERT_TRUE(undo.undo(line, &cursor, ignore));
  EXPECT_EQ(line + "|" + std::to_string(cursor), "abc|1");  // the cursor after what came back
  ASSERT_TRUE(undo.undo(line, &cursor, ignore));
  EXPECT_EQ(line, "");
  EXPECT_FALSE(undo.undo(line, &cursor, ignore));

  History history{{"10", "20"}, {}};
  HistoryWalk walk(&history);
  std::string shown = "typed";
  UndoList shown_undo;
  walk.move_to(0, &shown, &shown_undo);
  EXPECT_EQ(shown, "10");
  shown = "15";  // an edit of the entry, kept while walking
  walk.move_to(1, &shown, &shown_undo);
  shown = "25";
  walk.move_to(2, &shown, &shown_undo);
  EXPECT_EQ(shown, "typed");
  EXPECT_EQ(walk.text_of(0, shown), "15");
  const auto found = walk.search("1", shown, static_cast<int64_t>(shown.size()), true);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->index, 0u);
  walk.take("30", 2, false);  // the oldest goes past the limit, its edit with it; the other's is kept
  EXPECT_EQ(history.entries, (std::vector<std::string>{"20", "30"}));
  ASSERT_EQ(history.edits.size(), 1u);
  EXPECT_EQ(history.edits.at(0).text, "25");
  HistoryWalk next(&history);
  shown.clear();
  next.move_to(0, &shown, &shown_undo);
  EXPECT_EQ(shown + "|" + next.original(), "25|20");  // the edit, over the entry as it was
  next.take(shown, 100, false);  // the entry taken is as it was again, its edit a new entry
  EXPECT_EQ(history.entries, (std::vector<std::string>{"20", "30", "25"}));
  EXPECT_TRUE(history.edits.empty());
  HistoryWalk reverting(&history);
  reverting.move_to(0, &shown, &shown_undo);
  shown = "22";
  reverting.move_to(2, &shown, &shown_undo);
  reverting.take("25", 3, true);  // revert-all-at-newline: no edit outlives its line
  EXPECT_EQ(history.entries, (std::vector<std::string>{"20", "30", "25"}));
  EXPECT_TRUE(history.edits.empty());
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
