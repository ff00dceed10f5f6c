// SPDX-License-Identifier: MIT
// Cursor reports on a pseudo-terminal: keys typed before and around a reply,
// a terminal that never answers, a window resize while waiting, and keys
// after the exit choice over a slow link.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <string>

#include <gtest/gtest.h>

#include "app/converter.h"
#include "runtime/print/print.h"
#include "tests/e2e/menu.h"
#include "tests/support/pty.h"

namespace {

const std::string kCursorReply = "\033[1;1R";

// Keys "typed" around the replies to the next requests: before + reply + after.
struct Interleaved {
  std::deque<std::pair<std::string, std::string>> around;
};

PtyOptions xterm_answering(Interleaved* keys) {
  PtyOptions options;
  options.env = {"TERM=xterm"};
  options.answer = [keys](std::string_view request) -> std::string {
    if (request != "\033[6n") return "";
    if (keys->around.empty()) return kCursorReply;
    auto [before, after] = keys->around.front();
    keys->around.pop_front();
    return before + kCursorReply + after;
  };
  return options;
}

TEST(CursorReplies, KeysTypedAroundRepliesArriveAsKeysInOrder) {
  Interleaved keys;
  // The one reply (the first line's) comes with keys typed just before and
  // after it, in this order: the choice 1; "22", the left arrow (ESC O D on
  // this terminal), "1" and Enter for 212; then a key without an action
  // (Shift+Tab) and the choice 3.
  keys.around = {{"1", "\r22\033OD1\r\033[Z3\r"}};
  PtySession session(xterm_answering(&keys));
  ASSERT_TRUE(session.wait_for_exit());
  EXPECT_NE(session.output().find("C=  100"), std::string::npos) << session.output();
  EXPECT_EQ(session.exit_status, 0);
}

TEST(CursorReplies, APasteOverASlowLinkConvertsAndAsksOncePerLine) {
  Interleaved keys;
  PtyOptions options = xterm_answering(&keys);
  options.reply_delay_ms = 50;  // an ssh link to a machine 50 ms away
  PtySession session(options);
  ASSERT_TRUE(session.wait_for("? "));
  session.settle();
  const int before = session.requests_seen();
  std::string pasted;
  for (int i = 0; i < 40; ++i) pasted += "1234567890";
  session.type("1\r" + pasted + "\r");  // the choice, then 400 digits pasted at once
  // The field is the first 67 digits.
  char expected[DOUBLE_TEXT_BUFFER];
  number_to_text(expected, 16, true, fahrenheit_to_celsius(std::strtod(pasted.substr(0, 67).c_str(), nullptr)));
  ASSERT_TRUE(session.wait_for(std::string("C= ") + expected, 10000)) << session.output().substr(0, 400);
  ASSERT_TRUE(session.wait_for_count("? ", 2));
  session.settle();
  // One question for each of the two lines, and one for the choice prompt after them.
  EXPECT_LE(session.requests_seen() - before, 3);
  session.type("3\r");
  ASSERT_TRUE(session.wait_for_exit());
  EXPECT_EQ(session.exit_status, 0);
}

// Over a link whose replies take 400 ms, the pieces of a key may come as
// far apart: Alt+B whose ESC and B come 300 ms apart is Alt+B (a word
// back), not the Escape key and a B.
TEST(CursorReplies, ASlowReplyTeachesHowFarApartAKeysPiecesMayCome) {
  Interleaved keys;
  PtyOptions options = xterm_answering(&keys);
  options.reply_delay_ms = 400;
  PtySession session(options);
  ASSERT_TRUE(session.wait_for("? "));
  session.type("1\r");
  ASSERT_TRUE(session.wait_for(": "));
  session.settle();
  session.type("21\033");
  usleep(300 * 1000);
  session.type("b3\r");
  char expected[DOUBLE_TEXT_BUFFER];
  number_to_text(expected, 16, true, fahrenheit_to_celsius(321));
  ASSERT_TRUE(session.wait_for(std::string("C= ") + expected, 5000)) << session.output();
  session.type("3\r");
  ASSERT_TRUE(session.wait_for_exit());
}

TEST(CursorReplies, ASilentTerminalCostsOneWaitAndStaysUsable) {
  PtyOptions options;
  options.env = {"TERM=xterm"};
  options.answer = [](std::string_view) { return std::string(); };
  PtySession session(options);
  ASSERT_TRUE(session.wait_for("? "));
  session.type("1\r212\r2\r37\r3\r");
  ASSERT_TRUE(session.wait_for_exit());
  EXPECT_NE(session.output().find("C=  100"), std::string::npos);
  EXPECT_NE(session.output().find("F=  98.59999999999999"), std::string::npos);
  EXPECT_EQ(session.exit_status, 0);
  EXPECT_EQ(session.requests_seen(), 1);  // asked once, never again
}

TEST(CursorReplies, EachLineAsksOnceAndAResizeIsDrawnAtOnce) {
  Interleaved keys;
  PtySession session(xterm_answering(&keys));
  ASSERT_TRUE(session.wait_for("? "));
  session.type("0\r");
  ASSERT_TRUE(session.wait_for_count("? ", 2));
  session.settle();
  const int before = session.requests_seen();
  session.type("0\r");
  ASSERT_TRUE(session.wait_for_count("? ", 3));
  session.settle();
  EXPECT_EQ(session.requests_seen() - before, 0);  // where the prompt left the cursor follows from the output

  winsize size{};
  size.ws_col = 100;
  size.ws_row = 30;
  ioctl(session.master(), TIOCSWINSZ, &size);  // the kernel sends SIGWINCH
  session.settle();
  // Drawn again while waiting: the size refresh asks once, and the console's
  // column and the editor take its answer; then nothing more.
  EXPECT_EQ(session.requests_seen() - before, 1);
  session.type("3\r");
  ASSERT_TRUE(session.wait_for_exit());
  EXPECT_EQ(session.exit_status, 0);
  EXPECT_EQ(session.requests_seen() - before, 1);
}

// A terminal that keeps its rows at a resize (xterm, the Linux console: cut
// to the new width, not reflowed) shows the whole line after one, narrower
// and wider, whatever the cursor's place in it when the window changed.
TEST(CursorReplies, AfterAResizeOnATerminalThatKeepsItsRowsTheLineIsWhole) {
  const std::string prompt = "Input temperature in Fahrenheit: ";
  for (const std::size_t count : {std::size_t{40}, std::size_t{60}}) {  // one row at 80 columns, and two
    SCOPED_TRACE(count);
    PtyOptions options;
    options.env = {"TERM=xterm"};
    options.emulate = true;
    PtySession session(options);
    ASSERT_TRUE(session.wait_for("? "));
    session.type("1\r");
    ASSERT_TRUE(session.wait_for(prompt));
    std::string digits;
    for (std::size_t i = 0; i < count; ++i) digits += static_cast<char>('0' + i % 10);
    session.type(digits);
    session.settle();
    for (const int columns : {60, 80, 45}) {
      session.type("\033OH");  // Home: the cursor at the line's start when the window changes
      session.settle();
      session.resize(columns, 24);
      session.settle(500);
      session.type("\033OF");  // End
      session.settle();
      const VtScreen& screen = session.screen();
      int top = screen.rows();
      while (top > 1 && screen.row_text(top).rfind(prompt, 0) != 0) --top;
      const std::string text = prompt + digits;
      for (std::size_t row = 0; row * columns < text.size(); ++row) {
        EXPECT_EQ(screen.row_text(top + static_cast<int>(row)), text.substr(row * columns, columns))
            << columns << " columns, row " << row << "\n" << screen.text();
      }
      EXPECT_EQ(screen.row(), top + static_cast<int>(text.size() / columns)) << columns;
      EXPECT_EQ(screen.column(), static_cast<int>(text.size() % columns) + 1) << columns;
    }
    session.type("\r3\r");
    ASSERT_TRUE(session.wait_for_exit());
  }
}

// Over a link whose replies take half a second, keys typed after the exit
// choice stay with the shell: no reply is awaited when they arrive. With the
// first reply later than the program waits for it, it is still owed at the
// end: the keys read while it is awaited go back to the terminal's input.
TEST(CursorReplies, KeysAfterTheExitChoiceStayWithTheShellOverASlowLink) {
  for (const int delay : {500, 1500}) {
    SCOPED_TRACE(delay);
    PtyOptions options;
    options.env = {"TERM=xterm"};
    options.emulate = true;
    options.reply_delay_ms = delay;
    options.linger_ms = 300;
    PtySession session(options);
    ASSERT_TRUE(session.wait_for("? "));
    session.type("1\r212\r");
    session.pump(100);
    session.type("3\recho hi\r");
    ASSERT_TRUE(session.wait_for_exit(8000));
    EXPECT_EQ(session.exit_status, 0);
    EXPECT_EQ(session.input_left(), "echo hi\n");  // the tty's own mode again: CR read as LF
  }
}

// Keys typed ahead of the first reply are read with it, as far as the exit
// choice and past it: what the program did not take goes back to the shell.
TEST(CursorReplies, KeysReadAheadPastTheExitChoiceGoBackToTheShell) {
  Interleaved keys;
  keys.around = {{"1\r212\r3\recho hi\r", ""}};
  PtyOptions options = xterm_answering(&keys);
  options.linger_ms = 300;
  PtySession session(options);
  ASSERT_TRUE(session.wait_for_exit(8000));
  EXPECT_EQ(session.exit_status, 0);
  EXPECT_NE(session.output().find("C=  100"), std::string::npos);
  EXPECT_EQ(session.input_left(), "echo hi\n");
}

// Replies later than the program's wait (a satellite or congested link): the
// emulated screen answers truthfully, 1.5 s late and in two pieces. The tail
// of a late reply is never typed into an answer, and the editing (a left
// arrow moves the cursor) draws nothing over the older output above.
TEST(CursorReplies, RepliesLaterThanTheWaitAreNeverTextAndNothingIsDrawnAbove) {
  PtyOptions options;
  options.env = {"TERM=xterm"};
  options.emulate = true;
  options.reply_delay_ms = 1500;
  options.reply_split_ms = 30;
  std::string older;
  for (int i = 1; i <= 12; ++i) {
    older += "older output " + std::to_string(i) + "\n";
    options.screen_before += "older output " + std::to_string(i) + "\r\n";
  }
  PtySession session(options);
  const struct {
    const char* choice;
    const char* prompt;
    const char* value;
    const char* result;
    const char* typed;
  } steps[] = {{"1", "Fahrenheit: ", "212", "C=  100", "22\033[D1"},
               {"2", "Celsius: ", "37", "F=  98.59999999999999", "7\033[D3"}};
  std::string transcript = older + kMenu;
  int prompts = 0;
  for (const auto& step : steps) {
    ASSERT_TRUE(session.wait_for_count("? ", ++prompts, 15000));
    session.type(std::string(step.choice) + "\r");
    ASSERT_TRUE(session.wait_for(step.prompt, 15000));
    session.type(std::string(step.typed) + "\r");
    ASSERT_TRUE(session.wait_for(step.result, 15000)) << session.screen().text();
    transcript += std::string("? ") + step.choice + "\nInput temperature in " + step.prompt + step.value + "\n" +
                  step.result + "\n" + kMenu;
  }
  session.type("3\r");
  ASSERT_TRUE(session.wait_for_exit(15000));
  EXPECT_EQ(session.exit_status, 0);
  transcript += "? 3\n";
  // The screen shows the last 24 rows of it, the cursor on an empty row below.
  std::vector<std::string> rows;
  for (std::size_t at = 0, end; (end = transcript.find('\n', at)) != std::string::npos; at = end + 1)
    rows.push_back(transcript.substr(at, end - at));
  rows.push_back("");
  std::string expected;
  for (std::size_t r = rows.size() - 24; r + 1 < rows.size(); ++r) expected += rows[r] + "\n";
  EXPECT_EQ(session.screen().text(), expected);
}

// A storm of resizes while typing, over a link whose replies take 0.4 s, on
// a terminal that keeps its rows (xterm): one copy of the prompt and the
// line, and the row above it untouched.
TEST(CursorReplies, TypingThroughAResizeStormLeavesTheRowsAboveAlone) {
  PtyOptions options;
  options.env = {"TERM=xterm"};
  options.emulate = true;
  options.reply_delay_ms = 400;
  PtySession session(options);
  ASSERT_TRUE(session.wait_for("? "));
  session.type("1\r");
  ASSERT_TRUE(session.wait_for("Fahrenheit: "));
  const std::string digits = "1234567890123456789012345678901234567890";
  session.type(digits);
  session.settle(600);
  int key = 0;
  for (const int width : {60, 20, 70, 30, 15, 50, 80}) {
    session.type(std::to_string(key++));
    session.resize(width, 24);
    session.pump(30);
  }
  session.settle(1500);
  const std::string line = "Input temperature in Fahrenheit: " + digits + "0123456";
  EXPECT_EQ(session.screen().row_text(5), "? 1") << session.screen().text();
  EXPECT_EQ(session.screen().row_text(6), line) << session.screen().text();
  EXPECT_EQ(session.screen().row_text(7), "") << session.screen().text();
  session.type("\r3\r");
  ASSERT_TRUE(session.wait_for_exit(8000));
}

}  // namespace
