// Cursor reports on a pseudo-terminal: keys typed before and around a reply,
// a terminal that never answers, and a window resize while waiting.
#include <sys/ioctl.h>

#include <deque>
#include <string>

#include <gtest/gtest.h>

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
  PtySession session(xterm_answering(&keys));
  ASSERT_TRUE(session.wait_for("? "));
  // An Escape makes the editor ask for the cursor again; the choice is typed around that reply.
  keys.around.push_back({"1", "\r"});
  session.type("\033");
  ASSERT_TRUE(session.wait_for("Input temperature in Fahrenheit: "));
  // "22", the left arrow (ESC O D on this terminal) before the reply, "1" and Enter after it.
  keys.around.push_back({"22\033OD", "1\r"});
  session.type("\033");
  ASSERT_TRUE(session.wait_for("C=  100"));
  ASSERT_TRUE(session.wait_for_count("? ", 2));
  // ESC followed by a byte that starts no key sequence gives that byte: the choice 3.
  keys.around.push_back({"\0333", "\r"});
  session.type("\033");
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

TEST(CursorReplies, AResizeIsReadOnceAtTheNextOutput) {
  Interleaved keys;
  PtySession session(xterm_answering(&keys));
  ASSERT_TRUE(session.wait_for("? "));
  session.type("0\r");  // a round with no resize, for comparison
  ASSERT_TRUE(session.wait_for_count("? ", 2));
  session.settle();
  const int before = session.requests_seen();
  session.type("0\r");
  ASSERT_TRUE(session.wait_for_count("? ", 3));
  session.settle();
  const int plain_round = session.requests_seen() - before;

  winsize size{};
  size.ws_col = 100;
  size.ws_row = 30;
  ioctl(session.master(), TIOCSWINSZ, &size);  // the kernel sends SIGWINCH
  session.settle();
  const int after_resize = session.requests_seen();
  EXPECT_EQ(after_resize, before + plain_round);  // nothing happens until output
  session.type("0\r");
  ASSERT_TRUE(session.wait_for_count("? ", 4));
  session.settle();
  // The refresh asks for the cursor, and so does the console's geometry: two more, once.
  EXPECT_EQ(session.requests_seen() - after_resize, plain_round + 2);
  session.type("3\r");
  ASSERT_TRUE(session.wait_for_exit());
  EXPECT_EQ(session.exit_status, 0);
}

}  // namespace
