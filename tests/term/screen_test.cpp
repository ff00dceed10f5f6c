// SPDX-License-Identifier: MIT
// The terminal writer, the shadow screen, window size refreshes, report
// queries with keys typed around their replies, and cursor placement.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "runtime/core/core.h"
#include "runtime/print/print.h"
#include "runtime/print/print_internal.h"
#include "runtime/term/term.h"
#include "runtime/term/term_internal.h"
#include "tests/support/capture.h"
#include "tests/support/fake_terminal.h"

namespace {

const std::string kCursorRequest = "\033[6n";

int count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A terminal of the given size whose geometry has been read, with the cursor at 1,1.
class Screen : public ::testing::Test {
 protected:
  explicit Screen(int columns = 80, int rows = 25) : terminal_(columns, rows) {
    reset_console();
    terminal_.answer("\033[1;1R");  // the size refresh asks; the console set-up takes its answer
    term_refresh();
    console_setup();
    terminal_.output();
    reports_reset();  // tests move the tracked cursor by hand: the next question asks
  }
  std::string row_text(int row, int from, int count) {
    std::string text;
    for (int column = from; column < from + count; ++column)
      text.push_back(static_cast<char>(term_tracked.shadow.character(row - 1, column - 1)));
    return text;
  }
  void at(int column, int row) {
    term_tracked.cursor_column = column;
    term_tracked.cursor_row = row;
  }
  FakeTerminal terminal_;
};

TEST_F(Screen, ControlBytesAreShownAsGlyphsAndEveryByteAdvancesOneColumn) {
  term_write("\033", 1);
  EXPECT_EQ(terminal_.output(), "\x1b\x25\x47\xef\x80\x9b\x1b\x25\x40");
  EXPECT_EQ(term_tracked.cursor_column, 2);
  const struct {
    uint8_t byte;
    std::string sent;
  } cases[] = {
      {7, "\x07"}, {9, "\t"}, {13, "\r"}, {0, " "}, {8, "\x1b%G\xef\x80\x88\x1b%@"},
      {12, "\x1b%G\xef\x80\x8c\x1b%@"}, {14, "\x1b%G\xef\x80\x8e\x1b%@"}, {15, "\x1b%G\xef\x80\x8f\x1b%@"},
      {0xE9, "\xe9"},
  };
  for (const auto& c : cases) {
    at(1, 1);
    term_write(&c.byte, 1);
    EXPECT_EQ(terminal_.output(), c.sent) << int{c.byte};
    EXPECT_EQ(term_tracked.cursor_column, 2) << int{c.byte};
    EXPECT_EQ(term_tracked.shadow.character(0, 0), c.byte);  // stored raw
    EXPECT_EQ(term_tracked.shadow.attribute(0, 0), 7);
  }
}

TEST_F(Screen, LineAdvanceAsSoonAsTheColumnReachesTheWidth) {
  term_write(std::string(79, 'x').data(), 79);
  EXPECT_EQ(term_tracked.cursor_column, 1);
  EXPECT_EQ(term_tracked.cursor_row, 2);
  at(5, 25);
  term_write("\n", 1);
  EXPECT_EQ(term_tracked.cursor_row, 25);
  EXPECT_EQ(term_tracked.cursor_column, 1);
}

TEST_F(Screen, ShadowCopyIsOneLinearRunFromTheCursor) {
  term_write("ab\ncd", 5);
  EXPECT_EQ(row_text(1, 1, 5), "ab\ncd") << shadow_screen_text();
  EXPECT_EQ(term_tracked.cursor_row, 2);
  EXPECT_EQ(term_tracked.cursor_column, 3);
  at(78, 25);  // only three cells are left on the screen
  term_write("12345", 5);
  EXPECT_EQ(row_text(25, 78, 3), "123");
  EXPECT_EQ(terminal_.output().substr(5), "12345");
}

TEST_F(Screen, CursorsOutsideTheGridCopyNothing) {
  const std::string before = term_tracked.shadow.text();
  for (auto [column, row] : {std::pair{1, 0}, {1, -3}, {1, 26}, {1, 99999}, {-70, 1}}) {
    at(column, row);
    term_write("zz", 2);
  }
  EXPECT_EQ(term_tracked.shadow.text(), before);
}

TEST_F(Screen, GrowingAndShrinkingKeepTheTopLeftOfBothPlanes) {
  for (int row = 1; row <= 25; ++row) {
    at(1, row);
    term_write(std::string(79, static_cast<char>('A' + row % 26)).data(), 79);
  }
  terminal_.resize(100, 30);
  term_refresh();
  ASSERT_EQ(term_window.window_columns, 100);
  ASSERT_EQ(term_window.window_rows, 30);
  EXPECT_EQ(row_text(1, 1, 79), std::string(79, 'B')) << shadow_screen_text();
  EXPECT_EQ(row_text(25, 1, 79), std::string(79, 'Z')) << shadow_screen_text();
  EXPECT_EQ(row_text(1, 80, 21), std::string(21, '\0'));
  EXPECT_EQ(row_text(26, 1, 100), std::string(100, '\0'));
  EXPECT_EQ(term_tracked.shadow.attribute(24, 78), 7);
  EXPECT_EQ(term_tracked.shadow.attribute(24, 79), 0);
  terminal_.resize(10, 3);
  term_refresh();
  EXPECT_EQ(row_text(3, 1, 10), std::string(10, 'D')) << shadow_screen_text();
  for (int size : {1, 1000, 65535}) {  // extreme windows work too, in memory that follows what was written
    terminal_.resize(size, size);
    term_write("q", 1);
    EXPECT_EQ(term_window.window_columns, size);
    EXPECT_LT(term_tracked.shadow.bytes_held(), 256u * 1024);
  }
}

// A write reads a new size once and asks the terminal nothing: a question
// inside a write would wait on a reply between two pieces of output.
TEST_F(Screen, RefreshHappensOncePerChangeAndAsksNothing) {
  term_write("a", 1);
  const unsigned reads = term_size_generation();
  terminal_.resize(90, 20);
  term_write("c", 1);
  term_write("d", 1);
  EXPECT_EQ(term_size_generation(), reads + 1);
  EXPECT_EQ(count(terminal_.output(), kCursorRequest), 0);
  EXPECT_EQ(console_record()->width, 90);
}

TEST_F(Screen, SizeReportIsTheFallbackAndEightyByTwentyFiveTheDefault) {
  terminal_.resize(0, 30);  // a kernel that knows the rows but not the columns: the default
  int32_t columns = 0, rows = 0;
  term_window_size(&columns, &rows);
  EXPECT_EQ(columns * 100 + rows, 8025);
  terminal_.resize(120, 40);
  term_window_size(&columns, &rows);
  terminal_.redirect_stdout_to_file();  // the size ioctl fails now
  terminal_.answer("\033[8;30;100t");
  note_size_stale();
  term_refresh();  // a write does not ask: the size stays until the next size read
  EXPECT_TRUE(term_resize_pending());
  EXPECT_EQ(term_window.window_columns * 100 + term_window.window_rows, 12040);
  term_window_size(&columns, &rows);
  EXPECT_EQ(columns, 100);
  EXPECT_EQ(rows, 30);
  term_keyboard.clock = [] {  // and when the terminal does not answer either: time runs on
    static int64_t now = 0;
    return now += 600;
  };
  note_size_stale();
  term_write("x", 1);  // output since the answer: the next size read asks again
  term_window_size(&columns, &rows);
  EXPECT_EQ(columns, 80);
  EXPECT_EQ(rows, 25);
}

TEST_F(Screen, CursorReplyAmidTypedKeys) {
  const struct {
    const char* typed;
    int column, row;
    std::string keys;
  } cases[] = {
      {"\033[24;80R", 80, 24, ""},
      {"ab\033[5;7Rcd", 7, 5, "ab" "cd"},
      {"\033[D\033[3;4R", 4, 3, std::string("\xff\x4b", 2)},  // an arrow key before the reply
      {"\033x\033[2;9R", 9, 2, std::string("\xff\x2d", 2)},   // ESC x is Alt+x
      {"\033\033[6;6R", 6, 6, "\033"},                        // the Escape key, then the reply
      {"\033\033[6;6Rq", 6, 6, "\033q"},                     // ... and a key after it stays a key
      {"\033[2;3x\033[7;8R", 8, 7, ""},                       // an unknown sequence is skipped
      {"\033]0;title\007\033[3;3R", 3, 3, ""},                // a control string from the terminal is skipped
      {"\033[99999;5R", 5, 25, ""},                           // absurd: taken at the window's edge
  };
  key_tree_release();
  key_tree_build([](const char* id) -> const char* { return std::strcmp(id, "kl") == 0 ? "\033[D" : nullptr; });
  for (const auto& c : cases) {
    reports_reset();  // each case asks afresh: nothing was written since the last answer
    terminal_.answer(c.typed);
    int32_t column = 0, row = 0;
    term_cursor_position(&column, &row);
    EXPECT_EQ(column, c.column) << c.typed;
    EXPECT_EQ(row, c.row) << c.typed;
    EXPECT_EQ(queued_keys(), c.keys) << c.typed;
  }
  key_tree_release();
  reports_reset();
  terminal_.answer("\033[99999;99999R");  // the editor's question too takes an absurd answer at the window's edge
  int32_t column = 0, row = 0;
  EXPECT_TRUE(term_ask_cursor(&column, &row));
  EXPECT_EQ(column * 100 + row, 8025);
}

TEST_F(Screen, ALateReplyIsNeverTextAndASilentTerminalCostsOneWait) {
  at(3, 4);
  terminal_.answer("k");  // a key, but no reply
  int32_t column = 0, row = 0;
  term_cursor_position(&column, &row);  // waits for the reply once
  EXPECT_EQ(column, 3);
  EXPECT_EQ(row, 4);
  term_cursor_position(&column, &row);  // still unanswered: neither asked nor waited for again
  EXPECT_EQ(count(terminal_.output(), kCursorRequest), 1);
  terminal_.type("\033[5;");           // the reply comes late, in pieces, among keys
  EXPECT_EQ(queued_keys(), "k");
  terminal_.type("6Rm");
  EXPECT_EQ(queued_keys(), "m");
  EXPECT_TRUE(term_ask_cursor(&column, &row));  // nothing written since the request: its answer holds
  EXPECT_EQ(column * 100 + row, 605);
  term_write("x", 1);
  terminal_.answer("\033[7;8R");         // answered, so the next question asks again
  EXPECT_TRUE(term_ask_cursor(&column, &row));
  EXPECT_EQ(column * 100 + row, 807);
  EXPECT_EQ(count(terminal_.output(), kCursorRequest), 1);
  terminal_.type("\033[1;5R");  // xterm's Ctrl+F3 reads as a cursor report, asked for by nobody
  EXPECT_EQ(queued_keys(), "");
  EXPECT_TRUE(term_ask_cursor(&column, &row));
  EXPECT_EQ(column * 100 + row, 807);
}

// Nothing is asked while keys wait, unread or half decoded: the reply would
// come behind them.
TEST_F(Screen, NothingIsAskedWhileKeysWait) {
  for (const std::string& typed : {std::string("q"), std::string("\033[1")}) {
    terminal_.type(typed);
    if (typed.size() > 1) {
      EXPECT_EQ(queued_keys(), "") << "its rest is awaited";
    }
    int32_t column = 0, row = 0;
    EXPECT_FALSE(term_ask_cursor(&column, &row)) << typed;
    term_ask_keyboard_protocol();
    EXPECT_EQ(terminal_.output(), "") << typed;
    if (typed.size() > 1) terminal_.type("~");
    EXPECT_NE(queued_keys(), "") << typed;
  }
  term_ask_keyboard_protocol();
  EXPECT_EQ(count(terminal_.output(), "\033[?u"), 1);
}

// What the shell reads after the program: a key never taken, the keys read
// while a reply still on its way was awaited and those typed after it, in
// the order they came; never a reply, whole or begun.
TEST_F(Screen, AtTheEndTheShellReadsTheKeysAroundALateReplyInOrder) {
  const int tty = term.device.tty.fd;
  if (!(ioctl(tty, TIOCSTI, nullptr) < 0 && errno == EFAULT)) GTEST_SKIP() << "the kernel takes no keys back";
  const struct {
    const char* name;
    Report asked;
    std::string typed;  // after the wait for the reply ran out
    std::string shell_reads;
    std::string read_before = "";  // typed, and read by the keyboard, before the rest
  } cases[] = {
      {"a size report, then a key", Report::Size, "\033[8;30;100tq", "\177q"},
      {"keys around a cursor report, an Escape right before it", Report::Cursor, "a\033\033[5;1Rb", "\177a\033b"},
      {"the start of a reply that never ends", Report::Cursor, "x\033[5", "\177x\033[5"},
      {"a reply the keyboard had begun to read", Report::Cursor, ";1Rq", "\177q", "\033[5"},
      {"the keyboard protocol's, begun", Report::Keyboard, "1u\033[?62cq", "\177q", "\033[?"},
  };
  for (const auto& c : cases) {
    reports_reset();
    term_keyboard.decoder.clear();  // what a case before left undecoded is not this one's
    int32_t row = 0, column = 0;
    if (c.asked == Report::Keyboard) {
      term_ask_keyboard_protocol();  // never waited for
    } else {
      EXPECT_FALSE(term_query(c.asked, &row, &column)) << c.name;
    }
    key_queue_push_byte(127);  // a Backspace read before, never taken
    terminal_.type(c.read_before);
    keyboard_fill();
    terminal_.type(c.typed);
    reports_keep_untaken_keys_for_the_shell();
    reports_await_due_replies(/*for_the_shell=*/true);
    std::string read_back;
    char bytes[64];
    for (ssize_t got; (got = read(tty, bytes, sizeof bytes)) > 0;) read_back.append(bytes, static_cast<std::size_t>(got));
    EXPECT_EQ(read_back, c.shell_reads) << c.name;
    while (!key_queue_empty()) next_key();
  }
}

TEST_F(Screen, PlacementClampsTheTrackedCursorButNotTheSequence) {
  const int32_t packed = term_place_cursor(30, 5, -1);
  EXPECT_EQ(terminal_.output(), "\033[30;5H");
  EXPECT_EQ(term_tracked.cursor_row, 25);
  EXPECT_EQ(term_tracked.cursor_column, 5);
  EXPECT_EQ(packed, CURSOR_SHOWN_BIT | 30 << 8 | 5);
  EXPECT_EQ(term_place_cursor(3, 5, 1), 0x10000 + 3 * 256 + 5);
  EXPECT_EQ(terminal_.output(), "\033[3;5H\033[?25h");
  EXPECT_EQ(term_place_cursor(3, 300, 0), (300 & 0xFF) | 3 << 8);
  EXPECT_EQ(term_tracked.cursor_column, 80);
  EXPECT_EQ(terminal_.output(), "\033[3;300H\033[?25l");
}

TEST_F(Screen, ZeroCoordinatesKeepTheCurrentCell) {
  terminal_.answer("\033[7;9R");
  EXPECT_EQ(term_place_cursor(0, 4, -1), CURSOR_SHOWN_BIT | 7 << 8 | 4);
  EXPECT_EQ(terminal_.output(), kCursorRequest + "\033[7;4H");
}

TEST_F(Screen, ValidatedPlacementRefusesCellsOutsideTheViewAndWindow) {
  int32_t packed = -1;
  set_error(0);
  EXPECT_EQ(place_cursor_validated(26, 1, 1, &packed), 1);
  EXPECT_EQ(get_error(), 1);
  EXPECT_EQ(packed, 0);
  EXPECT_EQ(place_cursor_validated(1, 81, 1, &packed), 1);
  EXPECT_EQ(terminal_.output(), "");  // nothing moved
  EXPECT_EQ(place_cursor_validated(25, 80, -1, &packed), 0);
  EXPECT_EQ(console_record()->column, 79);
  terminal_.answer("\033[4;2R");
  EXPECT_EQ(place_cursor_validated(0, 0, 0, &packed), 0);  // asks, re-sends, applies visibility
  EXPECT_EQ(terminal_.output(), "\033[25;80H" + kCursorRequest + "\033[4;2H\033[?25l");
}

TEST_F(Screen, PlaceCursorFallsBackToVisibilityOnly) {
  terminal_.answer("\033[2;2R");
  set_error(0);
  EXPECT_EQ(place_cursor(40, 1, 0), 2 << 8 | 2);
  EXPECT_EQ(get_error(), 0);
  EXPECT_EQ(terminal_.output(), kCursorRequest + "\033[2;2H\033[?25l");
}

// The console's column: where the terminal says the cursor is, and within
// the width after the window narrows.
TEST_F(Screen, TheConsoleColumnIsTheTerminalsAndStaysWithinTheWidth) {
  reports_reset();
  terminal_.answer("\033[3;11R");
  console_refresh_geometry();
  EXPECT_EQ(record_for_file(0)->column, 10);
  record_for_file(0)->column = 50;
  terminal_.resize(40, 25);
  int32_t columns = 0, rows = 0;
  term_window_size(&columns, &rows);
  EXPECT_EQ(record_for_file(0)->column, 10);
}

TEST_F(Screen, ViewBottomIsFixedOnFirstUse) {
  int32_t first = 0, last = 0;
  view_range(&first, &last);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(last, 25);
  terminal_.resize(80, 40);
  terminal_.answer("\033[1;1R");
  view_range(&first, &last);
  EXPECT_EQ(last, 25);
}

TEST(ScreenOff, PlainStandardOutputWhenNotDriven) {
  ASSERT_EQ(term_kind(), TERM_KIND_OFF);
  CapturedStdout out;
  term_write("ab\n", 3);
  term_write("\033\0", 2);
  EXPECT_EQ(out.text(), std::string("ab\n\033\0", 5));
  int32_t columns = 0, rows = 0, column = 0, row = 0;
  term_window_size(&columns, &rows);
  term_cursor_position(&column, &row);
  EXPECT_EQ(columns * 100 + rows, 8024);
  EXPECT_EQ(column * 100 + row, 101);
  EXPECT_EQ(term_place_cursor(3, 3, 1), 0);
}

}  // namespace
