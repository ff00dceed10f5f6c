// SPDX-License-Identifier: MIT
// The capability emitter and the terminal kind decision, on an invented entry.
#include <gtest/gtest.h>

#include "runtime/term/term.h"
#include "runtime/term/term_internal.h"
#include "tests/support/capture.h"
#include "tests/support/fixtures.h"

namespace {

class Emitter : public ::testing::Test {
 protected:
  InventedTerminal terminal_{nullptr};
};

TEST_F(Emitter, CapabilitiesGoThroughTgoto) {
  CapturedStdout out;
  EXPECT_TRUE(term_emit(CAP_CURSOR_MOTION, 4, 2));  // column 4, row 2, 0-based
  EXPECT_TRUE(term_emit(CAP_BELL, 0, 0));
  EXPECT_TRUE(term_emit(CAP_KEYPAD_ON, 0, 0));
  EXPECT_TRUE(term_emit(SEQ_RENDITION, 31, 0));  // a sequence of the program's own takes its parameter too
  EXPECT_EQ(out.text(), "\033[3;5H\007\033[?1h\033=\033[31m");
}

TEST_F(Emitter, MissingCapabilityAndUnknownIndexWriteNothing) {
  term.device.capabilities[CAP_CURSOR_HIDDEN] = nullptr;
  CapturedStdout out;
  EXPECT_FALSE(term_emit(CAP_CURSOR_HIDDEN, 0, 0));
  EXPECT_FALSE(term_emit(17, 0, 0));
  EXPECT_FALSE(term_emit(50, 0, 0));
  EXPECT_FALSE(term_emit(-1, 0, 0));
  EXPECT_FALSE(term_emit(108, 0, 0));
  EXPECT_EQ(out.text(), "");
}

TEST_F(Emitter, NothingWithTerminalHandlingOff) {
  term.device.kind = TERM_KIND_OFF;
  CapturedStdout out;
  EXPECT_FALSE(term_emit(CAP_BELL, 0, 0));
  EXPECT_FALSE(term_emit(SEQ_CURSOR_REPORT, 0, 0));
  EXPECT_FALSE(term_emit(SEQ_RENDITION, 31, 0));
  EXPECT_EQ(out.text(), "");
}

TEST(TerminalKind, LinuxConsoleByName) {
  for (const char* term : {"console", "linux", "linux-16color", "linux2.6"})
    EXPECT_EQ(terminal_kind_for(term), TERM_KIND_LINUX_CONSOLE) << term;
  for (const char* term : {"console2", "Linux", "xterm", "consol", "", "lin"})
    EXPECT_EQ(terminal_kind_for(term), TERM_KIND_OTHER) << term;
}

}  // namespace
