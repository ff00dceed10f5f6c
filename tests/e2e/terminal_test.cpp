// SPDX-License-Identifier: MIT
// The real binary on a pseudo-terminal: when it drives the terminal, the
// sequences it writes at start and exit (expected strings read from the
// terminfo database), the terminal's modes before, during and after, fatal
// signals, and suspend and resume.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/program.h"
#include "tests/support/pty.h"
#include "tests/support/temp_dir.h"

namespace {

// A terminal that answers cursor position requests (the cursor is reported at 1,1).
PtyOptions terminal(const std::string& term) {
  PtyOptions options;
  if (!term.empty()) options.env.push_back("TERM=" + term);
  options.answer = [](std::string_view request) {
    return request == "\033[6n" ? std::string("\033[1;1R") : std::string();
  };
  return options;
}

// The output without the cursor report requests, which every driven terminal gets.
std::string without_requests(std::string text) {
  for (std::size_t at; (at = text.find("\033[6n")) != std::string::npos;) text.erase(at, 4);
  return text;
}

bool has_escape(const std::string& text) { return text.find('\033') != std::string::npos; }

std::string exit_sequence(const std::string& term) {
  std::string bytes = term.rfind("linux", 0) == 0 ? "\033(B" : "";
  for (const char* cap : {"me", "ve", "ke"}) bytes += terminfo_string(term, cap);
  return bytes;
}

std::string start_sequence(const std::string& term) {
  return (term.rfind("linux", 0) == 0 ? "\033(U" : "") + terminfo_string(term, "ks");
}

// Runs a session to its end with the choice 3 and returns it.
void run_to_exit(PtySession& session) {
  ASSERT_TRUE(session.started());
  ASSERT_TRUE(session.wait_for("? "));
  session.type("3\r");
  ASSERT_TRUE(session.wait_for_exit());
}

TEST(TerminalSession, StartAndExitSequencesByTerminalKind) {
  for (const std::string term : {"xterm", "linux", "screen"}) {
    SCOPED_TRACE(term);
    PtySession session(terminal(term));
    const termios before = session.initial_modes();
    run_to_exit(session);
    const std::string& out = session.output();
    EXPECT_EQ(out.rfind(start_sequence(term), 0), 0u) << "starts with the keypad (and font) switch";
    const std::string tail = exit_sequence(term);
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    EXPECT_EQ(session.exit_status, 0);
    EXPECT_TRUE(same_modes(before, session.modes()));
    EXPECT_EQ(session.stderr_text(), "");
  }
}

TEST(TerminalSession, WhileRunningTheKeyboardIsRawButSignalsStay) {
  PtySession session(terminal("xterm"));
  const termios before = session.initial_modes();
  ASSERT_TRUE(session.wait_for("? "));
  const termios during = session.modes();
  EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_NE(during.c_lflag & ISIG, 0u);
  EXPECT_EQ(during.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(during.c_cc[VMIN], 1);
  EXPECT_EQ(during.c_cc[VTIME], 0);
  EXPECT_NE(before.c_lflag & ICANON, 0u);
}

TEST(TerminalSession, NoControlByteWhenTheTerminalIsNotDriven) {
  PtyOptions unset = terminal("");
  PtyOptions unknown = terminal("no-such-terminal");
  PtyOptions huge = terminal(std::string(600, 'x'));
  PtyOptions piped_in = terminal("xterm");
  piped_in.stdin_from_pipe = true;
  piped_in.stdin_text = "3\n";
  PtyOptions piped_out = terminal("xterm");
  piped_out.stdout_to_pipe = true;
  for (PtyOptions* options : {&unset, &unknown, &huge, &piped_in, &piped_out}) {
    PtySession session(*options);
    const termios before = session.initial_modes();
    if (!options->stdin_from_pipe) {
      ASSERT_TRUE(options->stdout_to_pipe ? session.wait_until_stopped(false) : session.wait_for("? "));
      session.type("3\r");
    }
    ASSERT_TRUE(session.wait_for_exit());
    EXPECT_EQ(session.exit_status, 0);
    EXPECT_FALSE(has_escape(session.output()));
    EXPECT_FALSE(has_escape(session.stdout_pipe_text()));
    EXPECT_EQ(session.requests_seen(), 0);
    EXPECT_TRUE(same_modes(before, session.modes()));
  }
}

// A control character typed or pasted (a C1 byte, U+009B) never reaches the
// terminal as it is, on any redraw; the line keeps the byte, so the field
// ends at it.
TEST(TerminalSession, ControlCharactersAreShownAsStandInsAndKeptInTheLine) {
  const struct {
    const char* locale;
    std::string typed;
    std::string stand_in;
    const char* term;  // outside UTF-8, xterm's meta key ("km") would make the byte Alt+ESC
  } cases[] = {{"LC_ALL=C", "\x9b", "?", "vt220"}, {"LC_ALL=C.UTF-8", "\xc2\x9b", "\xef\xbf\xbd", "xterm"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.locale);
    PtyOptions options = terminal(c.term);
    options.env.push_back(c.locale);
    PtySession session(options);
    ASSERT_TRUE(session.wait_for("? "));
    session.type("1\r");
    ASSERT_TRUE(session.wait_for("Fahrenheit: "));
    session.settle(100);
    const std::size_t from = session.output().size();
    session.type("2" + c.typed + "12");
    session.settle(100);
    session.type("\001" "0");  // Ctrl+A and a 0 before it all: the rest is drawn again
    session.settle(100);
    session.type("\014");  // Ctrl+L: drawn again whole
    session.settle(100);
    session.type("\r");
    ASSERT_TRUE(session.wait_for("C= -16.66666666666667"));  // 02, then the byte
    const std::string shown = session.output().substr(from);
    EXPECT_EQ(shown.find(c.typed), std::string::npos) << ::testing::PrintToString(shown);
    EXPECT_NE(shown.find("02" + c.stand_in + "12"), std::string::npos) << ::testing::PrintToString(shown);
    session.type("3\r");
    ASSERT_TRUE(session.wait_for_exit());
  }
}

TEST(TerminalSession, CtrlDOnAnEmptyLineEndsAPlainTerminalSession) {
  PtySession session(terminal(""));  // no TERM: the terminal's own line editing is used
  ASSERT_TRUE(session.wait_for("? "));
  session.type("1\n");
  ASSERT_TRUE(session.wait_for("Fahrenheit: "));
  session.type("\004");
  ASSERT_TRUE(session.wait_for_exit());
  EXPECT_EQ(session.exit_status, 0);
  EXPECT_EQ(session.output().find("C="), std::string::npos);  // no result line
  EXPECT_EQ(session.output().find("Choose", 1), std::string::npos);  // no second menu
}

TEST(TerminalSession, FatalSignalsRestoreTheTerminalAndEndTheProcess) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGSEGV, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU,
                     SIGVTALRM, SIGPROF, SIGRTMIN + 3}) {
    SCOPED_TRACE(signal);
    PtyOptions options = terminal("xterm");
    options.env.push_back("ASAN_OPTIONS=handle_segv=0");  // a sanitizer build would report the signal itself
    PtySession session(options);
    const termios before = session.initial_modes();
    ASSERT_TRUE(session.wait_for("? "));
    session.type("12");
    ASSERT_TRUE(session.wait_for("12"));
    session.settle(100);
    if (signal == SIGINT) {
      session.type("\003");  // Ctrl+C still raises SIGINT
    } else {
      kill(session.program_pid(), signal);
    }
    ASSERT_TRUE(session.wait_for_exit());
    EXPECT_EQ(session.exit_signal, signal);
    EXPECT_TRUE(same_modes(before, session.modes()));
    // Restored from a fresh row below the line, where the shell's message goes.
    EXPECT_NE(session.output().find("\r\r\n" + exit_sequence("xterm")), std::string::npos)
        << ::testing::PrintToString(session.output());
    // A signal the keyboard raises shows its key first, as readline echoes it.
    const char* echoed = signal == SIGINT ? "12^C" : signal == SIGQUIT ? "12^\\" : "12\033";
    EXPECT_NE(session.output().find(echoed), std::string::npos) << ::testing::PrintToString(session.output());
  }
}

// Over a link of 0.2 s each way, Ctrl+C right after a resize made the prompt
// ask where the cursor is: the reply comes after the program has gone, and
// must not be left for the shell (it would read ";34R" as its next command).
TEST(TerminalSession, CtrlCWithARequestOnItsWayLeavesNothingForTheShell) {
  PtyOptions options;
  options.env = {"TERM=xterm"};
  options.emulate = true;
  options.reply_delay_ms = 400;
  options.linger_ms = 1200;
  PtySession session(options);
  ASSERT_TRUE(session.wait_for("? "));
  session.settle();
  const std::size_t before_resize = session.output().size();
  session.resize(70, 24);
  ASSERT_TRUE(session.wait_for_from(before_resize, "\033[6n"));  // the prompt asks again
  session.type("\003");
  ASSERT_TRUE(session.wait_for_exit(5000));
  EXPECT_EQ(session.exit_signal, SIGINT);
  EXPECT_EQ(session.input_left(), "");
}

// The terminal goes away while SIGHUP is ignored (nohup): reading it fails,
// and the program ends with status 1 instead of waiting on a dead terminal.
TEST(TerminalSession, AHangUpWithSIGHUPIgnoredEndsTheProgram) {
  PtyOptions options = terminal("xterm");
  options.ignored_signals = {SIGHUP};
  PtySession session(options);
  ASSERT_TRUE(session.wait_for("? "));
  session.settle();
  session.hang_up();
  ASSERT_TRUE(session.wait_for_exit());
  EXPECT_EQ(session.exit_status, 1);
}

TEST(TerminalSession, SuspendRestoresAndContinueTakesTheTerminalAgain) {
  if (program_is_wrapped()) GTEST_SKIP() << "job-control stops of a wrapped program are the wrapper's";
  PtySession session(terminal("xterm"));
  const termios before = session.initial_modes();
  ASSERT_TRUE(session.wait_for("? "));
  session.type("\032");  // Ctrl+Z
  ASSERT_TRUE(session.wait_until_stopped(true));
  EXPECT_TRUE(same_modes(before, session.modes()));
  EXPECT_TRUE(session.wait_for(exit_sequence("xterm")));
  kill(session.program_pid(), SIGCONT);
  ASSERT_TRUE(session.wait_until_stopped(false));
  ASSERT_TRUE(session.wait_for_count(start_sequence("xterm"), 2));
  EXPECT_EQ(session.modes().c_lflag & (ICANON | ECHO), 0u);
  session.type("3\r");
  ASSERT_TRUE(session.wait_for_exit()) << ::testing::PrintToString(session.output());
  EXPECT_EQ(session.exit_status, 0);
  EXPECT_TRUE(same_modes(before, session.modes()));
}

TEST(TerminalSession, AnIgnoredFatalSignalRestoresAndTheProgramGoesOnPlain) {
  PtyOptions options = terminal("xterm");
  options.ignored_signals = {SIGQUIT};
  PtySession session(options);
  const termios before = session.initial_modes();
  ASSERT_TRUE(session.wait_for("? "));
  session.settle();  // the line's cursor request answered: a reply after the restoration would be typed input
  kill(session.program_pid(), SIGQUIT);
  ASSERT_TRUE(session.wait_for(exit_sequence("xterm")));
  session.settle();
  EXPECT_TRUE(same_modes(before, session.modes()));
  session.type("3\n");  // read in the terminal's own mode now
  ASSERT_TRUE(session.wait_for_exit());
  EXPECT_EQ(session.exit_status, 0);
  EXPECT_TRUE(same_modes(before, session.modes()));
}

TEST(TerminalSession, ABackgroundJobLeavesTheTerminalAlone) {
  if (program_is_wrapped()) GTEST_SKIP() << "job-control stops of a wrapped program are the wrapper's";
  PtyOptions options = terminal("xterm");
  options.background = true;
  PtySession session(options);
  const termios before = session.initial_modes();
  ASSERT_TRUE(session.wait_for("? "));
  ASSERT_TRUE(session.wait_until_stopped(true));  // reading the terminal from the background stops it
  EXPECT_FALSE(has_escape(session.output()));
  EXPECT_TRUE(same_modes(before, session.modes()));
}

// The kitty keyboard protocol and bracketed paste are on only while a line
// is edited (the protocol only where the terminal says it has it), and off
// before the line end, at a stop (on again after it), at exit and at a fatal
// signal. Under the protocol the kernel sees no Ctrl+C or Ctrl+Z: they come
// as CSI u keys, and still quit and suspend.
TEST(TerminalSession, TheKeyboardModesAreOnOnlyWhileALineIsEdited) {
  for (const bool kitty : {true, false}) {
    SCOPED_TRACE(kitty ? "a terminal with the protocol" : "one without");
    PtyOptions options = terminal("xterm");
    options.kitty_keyboard = kitty;
    const int on = kitty ? 1 : 0;
    {
      PtySession session(options);
      const termios before = session.initial_modes();
      ASSERT_TRUE(session.wait_for("? "));
      session.settle(200);
      EXPECT_EQ(session.kitty_flags_pushed(), on);
      EXPECT_TRUE(session.bracketed_paste_on());
      session.type(kitty ? "1\033[13u" : "1\r");
      ASSERT_TRUE(session.wait_for("Fahrenheit: "));
      const std::string& out = session.output();
      EXPECT_LT(out.find(kitty ? "\033[<u\033[?2004l\r\n" : "\033[?2004l\r\n"), out.find("Input"))
          << "off right before the line end";
      session.settle(200);
      EXPECT_EQ(session.kitty_flags_pushed(), on);
      if (!program_is_wrapped()) {
        session.type(kitty ? "\033[122;5u" : "\032");  // Ctrl+Z
        ASSERT_TRUE(session.wait_until_stopped(true));
        session.settle(100);
        EXPECT_EQ(session.kitty_flags_pushed(), 0);
        EXPECT_FALSE(session.bracketed_paste_on());
        kill(session.program_pid(), SIGCONT);
        ASSERT_TRUE(session.wait_until_stopped(false));
        session.settle(200);
        EXPECT_EQ(session.kitty_flags_pushed(), on);
        EXPECT_TRUE(session.bracketed_paste_on());
      }
      session.type(kitty ? "\033[99;5u" : "\003");  // Ctrl+C
      ASSERT_TRUE(session.wait_for_exit());
      EXPECT_EQ(session.exit_signal, SIGINT);
      EXPECT_EQ(session.kitty_flags_pushed(), 0);
      EXPECT_FALSE(session.bracketed_paste_on());
      EXPECT_TRUE(same_modes(before, session.modes()));
      if (!kitty) {
        EXPECT_EQ(session.output().find("\033[>"), std::string::npos) << "nothing of the protocol";
      }
    }
    for (const bool fatal : {true, false}) {  // a fatal signal, and the exit
      PtySession session(options);
      ASSERT_TRUE(session.wait_for("? "));
      session.settle(200);
      if (fatal) {
        kill(session.program_pid(), SIGTERM);
      } else {
        session.type("3\r");
      }
      ASSERT_TRUE(session.wait_for_exit());
      EXPECT_EQ(session.kitty_flags_pushed(), 0);
      EXPECT_FALSE(session.bracketed_paste_on());
    }
  }
}

// Compiles terminal entries into a private terminfo directory.
class CustomEntries : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.made()) << "cannot make a private terminfo folder";
    std::ofstream source(dir_.path() + "/entries.src");
    source << "tc-noam|no automatic margins,\n"
              "\tcup=\\E[%i%p1%d;%p2%dH, smkx=\\E[?1h\\E=, rmkx=\\E[?1l\\E>, sgr0=\\E[0m,\n"
              "tc-noks|automatic margins but no keypad strings,\n"
              "\tam, cup=\\E[%i%p1%d;%p2%dH, sgr0=\\E[0m, cnorm=\\E[?25h,\n"
              "tc-longsgr0|an attribute reset longer than a kilobyte,\n"
              "\tam, cup=\\E[%i%p1%d;%p2%dH, cnorm=\\E[?25h, sgr0=";
    for (int i = 0; i < 400; ++i) source << "\\E[0m";
    source << ",\n";
    source.close();
    const std::string command = "tic -o '" + dir_.path() + "' '" + dir_.path() + "/entries.src' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  PtyOptions with_entry(const std::string& term) {
    PtyOptions options = terminal(term);
    options.env.push_back("TERMINFO=" + dir_.path());
    return options;
  }
  TempDir dir_{"tempconv-terminfo"};
};

TEST_F(CustomEntries, WithoutAutomaticMarginsTheTerminalIsLeftAlone) {
  PtySession session(with_entry("tc-noam"));
  run_to_exit(session);
  EXPECT_FALSE(has_escape(session.output()));
  EXPECT_EQ(session.exit_status, 0);
}

TEST_F(CustomEntries, MissingKeypadStringsAreSimplyNotSentAndLongOnesWhole) {
  std::string long_reset;
  for (int i = 0; i < 400; ++i) long_reset += "\033[0m";
  for (const auto& [term, tail] : {std::pair<std::string, std::string>{"tc-noks", "\033[0m\033[?25h"},
                                   {"tc-longsgr0", long_reset + "\033[?25h"}}) {
    SCOPED_TRACE(term);
    PtySession session(with_entry(term));
    const termios before = session.initial_modes();
    run_to_exit(session);
    EXPECT_EQ(without_requests(session.output()).rfind("Choose", 0), 0u);  // nothing else before the menu
    ASSERT_GE(session.output().size(), tail.size());
    EXPECT_EQ(session.output().substr(session.output().size() - tail.size()), tail);
    EXPECT_TRUE(same_modes(before, session.modes()));
  }
}

}  // namespace
