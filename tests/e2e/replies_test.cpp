// Cursor reports on a pseudo-terminal: keys typed before and around a reply,
// a terminal that never answers, and a window resize while waiting.
#include <sys/ioctl.h>

#include <cstdlib>
#include <deque>
#include <string>

#include <gtest/gtest.h>

#include "app/converter.h"
#include "runtime/print/print.h"
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
  // Each reply comes with keys typed just before and after it, in this order:
  // the choice 1; "22", the left arrow (ESC O D on this terminal), "1" and
  // Enter for 212; then ESC followed by a byte that starts no key sequence,
  // which gives that byte: the choice 3.
  keys.around = {{"1", "\r"}, {"22\033OD", "1\r"}, {"\0333", "\r"}};
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
  EXPECT_EQ(session.requests_seen() - before, 1);  // where the prompt left the cursor

  winsize size{};
  size.ws_col = 100;
  size.ws_row = 30;
  ioctl(session.master(), TIOCSWINSZ, &size);  // the kernel sends SIGWINCH
  session.settle();
  // Drawn again while waiting: the size refresh, the console's column and the
  // editor each ask once; then nothing more until the next line.
  EXPECT_EQ(session.requests_seen() - before, 4);
  session.type("3\r");
  ASSERT_TRUE(session.wait_for_exit());
  EXPECT_EQ(session.exit_status, 0);
  EXPECT_EQ(session.requests_seen() - before, 4);
}

}  // namespace
