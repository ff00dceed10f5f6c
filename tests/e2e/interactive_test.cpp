// SPDX-License-Identifier: MIT
// The interactive converter in a real terminal emulator (tmux): the worked
// session screen for screen, line editing checked through the echoed line and
// the converted result, wrapped lines, the bottom-right corner, resizing, and
// the terminal's modes before and after.
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/menu.h"

#include "app/converter.h"
#include "runtime/print/print.h"
#include "tests/support/program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tmux.h"

namespace {

const std::string kFahrenheitPrompt = "Input temperature in Fahrenheit: ";

std::string celsius_line(double fahrenheit) {
  char buffer[DOUBLE_TEXT_BUFFER];
  return std::string("C= ") + number_to_text(buffer, 16, true, fahrenheit_to_celsius(fahrenheit));
}

// Chooses Fahrenheit to Celsius and waits for the temperature prompt.
void choose_fahrenheit(TmuxSession& tmux) {
  ASSERT_TRUE(tmux.wait_for_cursor_row("?"));
  tmux.keys({"1", "Enter"});
  ASSERT_TRUE(tmux.wait_for(kFahrenheitPrompt));
}

// Types 21 at the temperature prompt and suspends the job with Ctrl+Z.
void type_21_and_suspend(TmuxSession& tmux) {
  tmux.type("21");
  tmux.settle();
  tmux.keys({"C-z"});
  ASSERT_TRUE(tmux.wait_for("Stopped")) << tmux.screen_text();
}

// Brings the job back with fg: the line shows 21 again, and a 2 makes it 212.
void bring_back_and_finish_212(TmuxSession& tmux) {
  tmux.type("fg");
  tmux.keys({"Enter"});
  ASSERT_TRUE(tmux.wait_for_cursor_row(kFahrenheitPrompt + "21")) << tmux.screen_text();
  tmux.type("2");
  tmux.keys({"Enter"});
  ASSERT_TRUE(tmux.wait_for(celsius_line(212))) << tmux.screen_text();
}

// Ends the program with choice 3 and checks that it left the terminal as found.
void exit_cleanly(TmuxSession& tmux) {
  tmux.keys({"3", "Enter"});
  ASSERT_TRUE(tmux.wait_for_exit());
  EXPECT_EQ(tmux.exit_status(), 0);
  EXPECT_TRUE(tmux.modes_unchanged());
}

TEST(Interactive, TheWorkedSessionScreenForScreen) {
  TmuxSession tmux(80, 24);
  ASSERT_TRUE(tmux.wait_for_cursor_row("?"));
  tmux.settle();
  EXPECT_EQ(tmux.screen_text(), kMenu + "?\n");
  EXPECT_EQ(tmux.cursor(), (std::pair{3, 5}));
  std::string expected = kMenu;
  const struct {
    const char* choice;
    const char* prompt;
    const char* temperature;
    const char* result;
  } steps[] = {
      {"1", "Input temperature in Fahrenheit: ", "212", "C=  100"},
      {"2", "Input temperature in Celsius: ", "37", "F=  98.59999999999999"},
  };
  for (const auto& step : steps) {
    tmux.type(step.choice);
    tmux.keys({"Enter"});
    ASSERT_TRUE(tmux.wait_for(step.prompt));
    tmux.type(step.temperature);
    tmux.keys({"Enter"});
    ASSERT_TRUE(tmux.wait_for(step.result));
    expected += std::string("? ") + step.choice + "\n" + step.prompt + step.temperature + "\n" + step.result + "\n" +
                kMenu;
  }
  tmux.settle();
  EXPECT_EQ(tmux.screen_text(), expected + "?\n");
  tmux.keys({"3", "Enter"});
  ASSERT_TRUE(tmux.wait_for_exit());
  EXPECT_EQ(tmux.screen_text(), expected + "? 3\nDONE\n");
  EXPECT_EQ(tmux.exit_status(), 0);
  EXPECT_TRUE(tmux.modes_unchanged());
}

// The editor's keys on a real terminal emulator: a few of them, as proof
// beside the full table run in-process (tests/input/line_edit_test.cpp).
TEST(Interactive, EditingKeysShapeTheLine) {
  const struct {
    const char* name;
    std::vector<std::string> keys;  // typed after the temperature prompt
    const char* echoed;             // what the line shows when Enter is pressed
    std::string environment = "";   // assignments before the program
    bool burst = false;             // all keys in one write, as fast typing or a paste sends them
    double value = 212;             // the temperature converted
    int columns = 80;
  } cases[] = {
      {"insert in the middle", {"22", "Left", "1"}, "212"},
      {"Ctrl+L clears the screen and draws the line at the top", {"21", "C-l", "2"}, "212"},
      {"UTF-8: a two-byte and a wide character are one unit each", {"1°", "BSpace", "2", "中", "Left", "5"},
       "125中", "LC_ALL=C.UTF-8 ", false, 125},
      {"unknown keys lose nothing after them", {"2", "C-Up", "1", "BTab", "M-x", "\033[[A", "2"}, "212", "", true},
      {"Alt+Left as urxvt sends it moves by a word", {"12", "\033\033[D", "2"}, "212"},
      {"a wide character moving up a row leaves no stale cell behind",
       {"XY123456中7", "Home", "Right", "Right", "BSpace", "BSpace"}, "123456\n中7", "LC_ALL=C.UTF-8 ", false, 123456,
       40},
      {"Home and End under a TERM that does not match tmux", {"12", "Home", "2", "End"}, "212",
       "TERM=xterm-256color "},
      {"a macro of the inputrc INPUTRC names", {"M-x"}, "212", "INPUTRC=" TEMPCONV_SOURCE_DIR "/bench/inputrc.typical "},
      {"vi mode as the inputrc sets it",
       {"385", "Escape", "t", "2", "Escape", "BSpace", "w", "d", "d", "Escape", "E", "S", "8"}, "8",
       "INPUTRC=" TEMPCONV_SOURCE_DIR "/bench/inputrc.vi ", false, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TmuxSession tmux(c.columns, 24, c.environment);
    choose_fahrenheit(tmux);
    // One key at a time, each handled before the next (an Escape followed at
    // once by another byte would be read as Alt and that byte), or in one burst.
    if (c.burst) tmux.keys(c.keys);
    for (const std::string& key : c.burst ? std::vector<std::string>{} : c.keys) {
      tmux.keys({key});
      tmux.settle(100);
    }
    tmux.keys({"Enter"});
    ASSERT_TRUE(tmux.wait_for(celsius_line(c.value))) << tmux.screen_text();
    EXPECT_NE(tmux.screen_text().find(kFahrenheitPrompt + c.echoed + "\n" + celsius_line(c.value)), std::string::npos)
        << tmux.screen_text();
    exit_cleanly(tmux);
  }
}

TEST(Interactive, CtrlDOnAnEmptyLineEndsTheInput) {
  TmuxSession tmux(80, 24);
  choose_fahrenheit(tmux);
  tmux.keys({"C-d"});
  ASSERT_TRUE(tmux.wait_for_exit());
  EXPECT_EQ(tmux.exit_status(), 0);
  EXPECT_TRUE(tmux.modes_unchanged());
  EXPECT_NE(tmux.screen_text().find("Input temperature in Fahrenheit:\nDONE"), std::string::npos) << tmux.screen_text();
}

TEST(Interactive, APlainTerminalUsesItsOwnLineEditing) {
  TmuxSession tmux(80, 24, "TERM=dumb ");  // cannot address the cursor: not driven
  ASSERT_TRUE(tmux.wait_for("? "));
  tmux.keys({"1", "Enter"});
  ASSERT_TRUE(tmux.wait_for(kFahrenheitPrompt));
  tmux.keys({"2139", "BSpace", "BSpace", "2", "Enter"});
  ASSERT_TRUE(tmux.wait_for("C=  100")) << tmux.screen_text();
  // The terminal echoed the Enter: no empty row follows either answer.
  EXPECT_NE(tmux.screen_text().find("? 1\n" + kFahrenheitPrompt + "212\nC=  100\n"), std::string::npos)
      << tmux.screen_text();
  exit_cleanly(tmux);
}

TEST(Interactive, KeysTypedAheadAreKeptInOrder) {
  TmuxSession tmux(80, 24);
  ASSERT_TRUE(tmux.wait_for_cursor_row("?"));
  tmux.keys({"1", "Enter", "2", "1", "2", "Enter", "2", "Enter", "3", "7", "Enter", "3", "Enter"});
  ASSERT_TRUE(tmux.wait_for_exit());
  EXPECT_NE(tmux.screen_text().find("C=  100\n"), std::string::npos);
  EXPECT_NE(tmux.screen_text().find("F=  98.59999999999999\n"), std::string::npos);
  EXPECT_EQ(tmux.exit_status(), 0);
}

// What follows the answer that ends the program is the shell's: one paste
// holds a conversion, the exit choice and a command for the shell after it.
TEST(Interactive, KeysTypedAfterTheExitChoiceAreLeftForTheShell) {
  TmuxSession tmux(80, 24, "", TmuxSession::Job::Plain, "read -r typed; echo \"shell read: $typed\"");
  ASSERT_TRUE(tmux.wait_for_cursor_row("?"));
  tmux.type("1\r212\r3\recho typed-ahead\r");
  ASSERT_TRUE(tmux.wait_for_exit()) << tmux.screen_text();
  EXPECT_EQ(tmux.exit_status(), 0);
  EXPECT_NE(tmux.screen_text().find("C=  100\n"), std::string::npos) << tmux.screen_text();
  EXPECT_NE(tmux.screen_text().find("shell read: echo typed-ahead"), std::string::npos) << tmux.screen_text();
}

// Started with "&", the program takes the terminal when it is brought to the
// foreground, and edits as usual from then on.
TEST(Interactive, StartedInTheBackgroundItEditsOnceInTheForeground) {
  if (program_is_wrapped()) GTEST_SKIP() << "job-control stops of a wrapped program are the wrapper's";
  TmuxSession tmux(80, 24, "", TmuxSession::Job::Background);
  tmux.settle(300);
  tmux.type("fg");
  tmux.keys({"Enter"});
  ASSERT_TRUE(tmux.wait_for_cursor_row("?")) << tmux.screen_text();
  tmux.keys({"1", "Enter"});
  ASSERT_TRUE(tmux.wait_for(kFahrenheitPrompt));
  tmux.type("212");
  tmux.keys({"Left"});
  tmux.type("9");
  tmux.keys({"Enter"});
  ASSERT_TRUE(tmux.wait_for(kFahrenheitPrompt + "2192\n" + celsius_line(2192))) << tmux.screen_text();
  // The modes before were taken while the shell edited its own line: not comparable.
  tmux.keys({"3", "Enter"});
  ASSERT_TRUE(tmux.wait_for_exit());
  EXPECT_EQ(tmux.exit_status(), 0);
}

TEST(Interactive, APasteOfHundredsOfKeysLosesNothing) {
  TmuxSession tmux(80, 24);
  choose_fahrenheit(tmux);
  std::string pasted;
  for (int i = 0; i < 60; ++i) pasted += "1234567890";
  tmux.type(pasted);  // 600 bytes at once: wider than the screen, longer than the key queue
  EXPECT_TRUE(tmux.wait_for_joined(kFahrenheitPrompt + pasted)) << tmux.screen_text();
  tmux.keys({"Escape"});  // clears all of it
  ASSERT_TRUE(tmux.wait_for_cursor_row("Input temperature in Fahrenheit:")) << tmux.screen_text();
  tmux.type("212");  // apart from the Escape: at once after it, a key would be read with Alt
  tmux.keys({"Enter"});
  ASSERT_TRUE(tmux.wait_for("C=  100")) << tmux.screen_text();
  EXPECT_EQ(tmux.screen_text().find("1234567890"), std::string::npos);
  exit_cleanly(tmux);
}

// A paste is text: a control byte in it acts as no key (a Ctrl+U would
// leave 2 of 212), and each of its lines answers a prompt in turn.
TEST(Interactive, APastedColumnAnswersEachPromptAndNoByteInItIsAKey) {
  TmuxSession tmux(80, 24);
  ASSERT_TRUE(tmux.wait_for_cursor_row("?"));
  tmux.paste("1\n21\x15" "2\n2\n37\n");
  ASSERT_TRUE(tmux.wait_for("F=  98.59999999999999")) << tmux.screen_text();
  EXPECT_NE(tmux.screen_text().find(kFahrenheitPrompt + "212\nC=  100\n"), std::string::npos) << tmux.screen_text();
  exit_cleanly(tmux);
}

TEST(Interactive, InTheBackgroundItDrawsAndAsksNothingUntilBroughtBack) {
  if (program_is_wrapped()) GTEST_SKIP() << "job-control stops of a wrapped program are the wrapper's";
  for (const bool reading_fails : {false, true}) {
    SCOPED_TRACE(reading_fails ? "SIGTTIN ignored: reading the terminal from the background fails" : "bg, then fg");
    TmuxSession tmux(80, 24, reading_fails ? "trap '' TTIN; " : "", TmuxSession::Job::Controlled);
    choose_fahrenheit(tmux);
    type_21_and_suspend(tmux);
    tmux.type("bg");
    tmux.keys({"Enter"});
    if (reading_fails) {  // a failure, not the end of the input (the modes after are the shell's, at its prompt)
      ASSERT_TRUE(tmux.wait_for_exit());
      EXPECT_EQ(tmux.exit_status(), 1);
      continue;
    }
    tmux.settle(300);
    // A reply to a request from the background would be the shell's input.
    tmux.type("echo ok-$((6*7))");
    tmux.keys({"Enter"});
    ASSERT_TRUE(tmux.wait_for("\nok-42\n")) << tmux.screen_text();
    bring_back_and_finish_212(tmux);
    exit_cleanly(tmux);
  }
}

// Wrapping, scrolling and redrawing, on the entries people run tmux with.
class Geometry : public ::testing::TestWithParam<const char*> {
 protected:
  std::string term() const { return std::string("TERM=") + GetParam() + " "; }
};

TEST_P(Geometry, WrappedLineInANarrowWindow) {
  TmuxSession tmux(40, 20, term());
  choose_fahrenheit(tmux);
  // The prompt leaves 7 cells on its row; the 8th byte wraps to the next row.
  tmux.type("12345678");
  tmux.settle();
  EXPECT_EQ(tmux.cursor(), (std::pair{2, tmux.cursor().second}));
  tmux.keys({"Left"});          // onto the 8 at the first cell of the new row
  tmux.settle();
  EXPECT_EQ(tmux.cursor().first, 1);
  tmux.keys({"Left"});          // across the row boundary: the last column of the row above
  tmux.settle();
  EXPECT_EQ(tmux.cursor().first, 40);
  tmux.type("9");               // insert before the 7
  tmux.settle();
  EXPECT_EQ(tmux.cursor().first, 1);  // just after the inserted byte, on the next row
  tmux.keys({"Right", "BSpace"});     // backspace from the first cell of a row deletes above
  tmux.settle();
  tmux.keys({"Enter"});
  ASSERT_TRUE(tmux.wait_for(celsius_line(12345698))) << tmux.screen_text();
  EXPECT_NE(tmux.screen_text().find(kFahrenheitPrompt + "1234569\n8\n"), std::string::npos) << tmux.screen_text();
  exit_cleanly(tmux);
}

TEST_P(Geometry, TypingAtTheLastCellScrollsOnce) {
  // The program starts on the last row of a 40 x 10 window.
  TmuxSession tmux(40, 10, "printf '\\n\\n\\n\\n\\n\\n\\n\\n\\n\\n\\n\\n'; " + term());
  choose_fahrenheit(tmux);
  tmux.settle();
  ASSERT_EQ(tmux.cursor(), (std::pair{34, 10}));
  tmux.type("123456");  // up to the cell before the last
  tmux.settle();
  tmux.type("7");       // the last cell: the screen scrolls, the cursor goes to column 1 of the last row
  tmux.settle();
  EXPECT_EQ(tmux.cursor(), (std::pair{1, 10}));
  EXPECT_EQ(tmux.screen()[8], kFahrenheitPrompt + "1234567");
  tmux.type("8");
  tmux.settle();
  EXPECT_EQ(tmux.screen()[9], "8");
  // Insert in the middle so the redraw runs past the bottom again.
  for (int i = 0; i < 3; ++i) tmux.keys({"Left"});
  tmux.settle();
  const std::string filler(40, '5');
  tmux.type("0");
  tmux.settle();
  const auto [column, row] = tmux.cursor();
  const std::string under = tmux.screen()[static_cast<std::size_t>(row - 1)];
  ASSERT_GE(under.size(), static_cast<std::size_t>(column));
  EXPECT_EQ(under[static_cast<std::size_t>(column - 1)], '6');  // just after the inserted 0
  tmux.keys({"Enter"});
  ASSERT_TRUE(tmux.wait_for(celsius_line(123450678))) << tmux.screen_text();
  exit_cleanly(tmux);
}

TEST_P(Geometry, ResizedWhileWaiting) {
  TmuxSession tmux(80, 24, term());
  ASSERT_TRUE(tmux.wait_for_cursor_row("?"));
  tmux.resize(30, 24);
  tmux.settle();
  tmux.keys({"1", "Enter"});
  ASSERT_TRUE(tmux.wait_for("Fahrenheit"));
  tmux.type("1234567890123456");  // the prompt's row has none left: this wraps at the new width
  tmux.keys({"Left", "Left"});
  tmux.type("9");
  tmux.keys({"Enter"});
  ASSERT_TRUE(tmux.wait_for(celsius_line(12345678901234956))) << tmux.screen_text();
  exit_cleanly(tmux);
}


TEST_P(Geometry, ResizedWhileEditingTheLineIsDrawnAgainAtTheNewWidth) {
  TmuxSession tmux(80, 24, term());
  choose_fahrenheit(tmux);
  const std::string digits = "1234567890123456789012345678901234567890";
  tmux.type(digits);
  ASSERT_TRUE(tmux.wait_for(kFahrenheitPrompt + digits));
  tmux.resize(20, 24);
  tmux.settle();
  tmux.keys({"Home"});
  tmux.type("9");  // lands at the start of the line, where the model says
  ASSERT_TRUE(tmux.wait_for_joined(kFahrenheitPrompt + "9" + digits)) << tmux.screen_text();
  tmux.keys({"Enter"});
  const std::string result = celsius_line(std::strtod(("9" + digits).c_str(), nullptr));  // 25 bytes: 2 rows
  ASSERT_TRUE(tmux.wait_for_joined(result + "Choose an option:")) << tmux.screen_text();
  // The line wrapped at 20 columns, then the result and the menu: no stale digits between.
  const std::vector<std::string> rows = tmux.screen();
  std::size_t at = 0;
  while (at + 2 < rows.size() && rows[at].rfind("C= ", 0) != 0) ++at;
  ASSERT_GT(at, 0u) << tmux.screen_text();
  EXPECT_EQ(rows[at - 1], "78901234567890") << tmux.screen_text();  // the last 14 of 33 + 41 bytes
  EXPECT_EQ(rows[at + 2], "Choose an option:") << tmux.screen_text();
  exit_cleanly(tmux);
}

// With horizontal-scroll-mode the line keeps to one row: it scrolls
// sideways as it grows, and after the window narrows it is one row again.
TEST_P(Geometry, OneRowThatScrollsSidewaysStaysOneRowAfterAResize) {
  TempDir folder("sideways");
  const std::string inputrc = folder.write("inputrc", "set horizontal-scroll-mode on\n");
  ASSERT_FALSE(inputrc.empty());
  TmuxSession tmux(40, 24, term() + "INPUTRC=" + inputrc + " ");
  choose_fahrenheit(tmux);
  const std::string digits = "12345678901234567890123456789012345678901234567890";
  const auto cursor_row = [&] { return tmux.screen()[static_cast<std::size_t>(tmux.cursor().second - 1)]; };
  const auto one_row_ending = [&](const std::string& end) {
    for (int waited = 0; waited < 3000; waited += 20) {
      const std::string row = cursor_row();
      const std::vector<std::string> rows = tmux.screen();
      const auto below = static_cast<std::size_t>(tmux.cursor().second);
      if (row.starts_with("<") && row.ends_with(end) && (below >= rows.size() || rows[below].empty())) return true;
      usleep(20000);
    }
    return false;
  };
  for (std::size_t at = 0; at < digits.size(); at += 10) {
    tmux.type(digits.substr(at, 10));
    tmux.settle(50);
  }
  ASSERT_TRUE(one_row_ending("4567890")) << tmux.screen_text();
  EXPECT_LE(cursor_row().size(), 39u) << "the last column is never written";
  tmux.resize(25, 24);
  tmux.settle();
  ASSERT_TRUE(one_row_ending("4567890")) << tmux.screen_text();
  EXPECT_LE(cursor_row().size(), 24u);
  tmux.keys({"Home"});
  tmux.type("9");  // lands at the start of the line, where the model says
  tmux.keys({"Enter"});
  ASSERT_TRUE(tmux.wait_for_joined(celsius_line(std::strtod(("9" + digits).c_str(), nullptr)))) << tmux.screen_text();
  exit_cleanly(tmux);
}

TEST_P(Geometry, ContinuedAfterAStopTheLineIsDrawnAgainOnAFreshRow) {
  if (program_is_wrapped()) GTEST_SKIP() << "job-control stops of a wrapped program are the wrapper's";
  TmuxSession tmux(80, 24, term(), TmuxSession::Job::Controlled);
  choose_fahrenheit(tmux);
  type_21_and_suspend(tmux);
  bring_back_and_finish_212(tmux);
  // The shell's lines stay above; the line and its result follow them.
  EXPECT_NE(tmux.screen_text().find("\n" + kFahrenheitPrompt + "212\n" + celsius_line(212) + "\n"),
            std::string::npos)
      << tmux.screen_text();
  exit_cleanly(tmux);
}

TEST_P(Geometry, APromptEndingAtTheMarginStartsTheLineOnTheNextRow) {
  const std::string prompt = "Input temperature in Celsius: ";  // 30 bytes
  TmuxSession tmux(30, 24, term());
  ASSERT_TRUE(tmux.wait_for_cursor_row("?"));
  tmux.keys({"2", "Enter"});
  ASSERT_TRUE(tmux.wait_for("Celsius"));
  tmux.type("37");
  tmux.keys({"Enter"});
  ASSERT_TRUE(tmux.wait_for("F=  98.59999999999999")) << tmux.screen_text();
  EXPECT_NE(tmux.screen_text().find("Input temperature in Celsius:\n37\nF=  98.59999999999999\n"),
            std::string::npos)
      << tmux.screen_text();
  exit_cleanly(tmux);
}

// A line taller than the window: the screen shows the rows around the
// cursor, as the prompt and the line lay out, through Home, typing, End,
// Ctrl+L and a resize.
TEST_P(Geometry, ALineTallerThanTheWindowShowsTheRowsAroundTheCursor) {
  TmuxSession tmux(20, 5, term());
  ASSERT_TRUE(tmux.wait_for_cursor_row("?"));
  tmux.keys({"1", "Enter"});
  ASSERT_TRUE(tmux.wait_for_joined("Input temperature in Fahrenheit:"));
  std::string digits;
  for (int i = 0; i < 108; ++i) digits += static_cast<char>('0' + i % 10);
  const struct {
    std::string typed;  // text typed, or a key named
    const char* key;
    int columns;
    std::string line;
    std::size_t position;
    int top;  // the row of the prompt and the line shown on the top row
  } steps[] = {
      {digits, nullptr, 20, digits, 108, 3},       {"", "Home", 20, digits, 0, 1},
      {"99", nullptr, 20, "99" + digits, 2, 1},    {"", "End", 20, "99" + digits, 110, 3},
      {"", "C-l", 20, "99" + digits, 110, 3},
      {"", nullptr, 30, "99" + digits, 110, 0},  // resized: all five rows fit, the prompt's first on top
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.key != nullptr ? step.key : step.typed.empty() ? "resize" : step.typed);
    if (step.columns != 20) tmux.resize(step.columns, 5);
    if (step.key != nullptr) tmux.keys({step.key});
    if (!step.typed.empty()) tmux.type(step.typed);
    tmux.settle(300);
    const std::string text = kFahrenheitPrompt + step.line;
    std::vector<std::string> expected;
    for (int row = 0; row < 5; ++row) {
      const std::size_t from = std::min(text.size(), static_cast<std::size_t>((step.top + row) * step.columns));
      expected.push_back(text.substr(from, static_cast<std::size_t>(step.columns)));
      while (!expected.back().empty() && expected.back().back() == ' ') expected.back().pop_back();
    }
    std::vector<std::string> rows = tmux.screen();
    rows.resize(5);
    EXPECT_EQ(rows, expected) << tmux.screen_text();
    const std::size_t cursor = kFahrenheitPrompt.size() + step.position;
    EXPECT_EQ(tmux.cursor(), (std::pair{static_cast<int>(cursor % static_cast<std::size_t>(step.columns)) + 1,
                                        static_cast<int>(cursor / static_cast<std::size_t>(step.columns)) - step.top + 1}));
  }
  tmux.keys({"Enter"});
  ASSERT_TRUE(tmux.wait_for("Choose an option:")) << tmux.screen_text();  // converted: the menu again
  exit_cleanly(tmux);
}

INSTANTIATE_TEST_SUITE_P(Terminals, Geometry, ::testing::Values("tmux-256color", "screen", "xterm"));

}  // namespace
