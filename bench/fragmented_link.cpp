// SPDX-License-Identifier: MIT
// Editing over a link that fragments and delays, as a serial line or a busy
// network delivers typing: the converter on a pseudo-terminal whose screen is
// emulated (tests/support/vt_screen) and answers cursor requests truthfully,
// but late.
//
// For each link it runs trials: choose Fahrenheit, type a random edit of a
// number (digits, Left, Right, Home, End, Backspace, Delete, Alt+B, Alt+F,
// Alt+D, counts before Left and Backspace, a control string the terminal
// sends, a history search taken with Right, digits on the keypad in
// application mode and in kitty's codes, Ctrl+A and Ctrl+E as CSI u and
// modifyOtherKeys send them) with every write split into
// random pieces, then Enter; then it checks the result line against the
// line the keys should have made, and the echoed line on the screen. Then,
// on each link, keys typed after the exit choice: the shell must get them. The links: pieces 1 to 60 ms apart with replies 0, 0.5, 1.2 and
// 2.5 s late; and a link that stalls, as a congested or mobile one does:
// pieces 120 to 450 ms apart (longer than ESCDELAY, inside keys), replies
// 0.4 s late whose ESC comes 150 ms before the rest. It reports the wrong
// results, wrong echoed lines and requests, the time from a lone Escape to
// the cleared line (without the kitty protocol and with it, on a quick link
// and on one that has stalled), and how often an idle prompt wakes up in 3 s.
//
//   build/bench/fragmented_link [trials per link] [seed] [program]
//   (defaults: 20 trials, seed 1, build/tempconv; the stalling link runs a
//   third of them, as each takes seconds)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "app/converter.h"
#include "runtime/print/print.h"
#include "tests/support/pty.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kPrompt = "Input temperature in Fahrenheit:";

struct Edit {
  std::vector<std::string> keys;  // what each key sends (xterm, keypad mode)
  std::string line;               // the line they should leave
};

// A random edit: keys applied to a model of the line. Lines are digits, one
// word: Alt+B goes to the start, Alt+F to the end, Alt+D kills to the end.
// history holds the lines entered before, newest last: an edit that begins
// with Ctrl+R looks for the start of the newest and takes it with Right.
Edit random_edit(std::mt19937& random, const std::vector<std::string>& history) {
  Edit edit;
  std::size_t position = 0;
  if (!history.empty() && history.back().size() >= 2 && random() % 4 == 0) {
    const std::string& found = history.back();
    const std::string query = found.substr(0, 2);
    edit.keys = {"\x12", query.substr(0, 1), query.substr(1, 1), "\033OC"};
    edit.line = found;
    position = std::min(found.rfind(query) + 1, found.size());
  }
  const int keys = 6 + static_cast<int>(random() % 14);
  for (int k = 0; k < keys; ++k) {
    const unsigned choice = random() % 20;
    if (choice < 4 && edit.line.size() < 15) {
      const char digit = static_cast<char>('0' + random() % 10);
      edit.line.insert(position++, 1, digit);
      edit.keys.emplace_back(1, digit);
    } else if (choice == 4) {
      edit.keys.emplace_back("\033OD");
      if (position > 0) --position;
    } else if (choice == 5) {
      edit.keys.emplace_back("\033OC");
      if (position < edit.line.size()) ++position;
    } else if (choice == 6) {
      edit.keys.emplace_back("\033OH");
      position = 0;
    } else if (choice == 7) {
      edit.keys.emplace_back("\033OF");
      position = edit.line.size();
    } else if (choice == 8) {
      edit.keys.emplace_back("\177");
      if (position > 0) edit.line.erase(--position, 1);
    } else if (choice == 9) {
      edit.keys.emplace_back("\033[3~");
      if (position < edit.line.size()) edit.line.erase(position, 1);
    } else if (choice == 10) {
      edit.keys.emplace_back("\033b");  // Alt+B
      position = 0;
    } else if (choice == 11) {
      edit.keys.emplace_back("\033f");  // Alt+F
      position = edit.line.size();
    } else if (choice == 12) {
      edit.keys.emplace_back("\033d");  // Alt+D
      edit.line.erase(position);
    } else if (choice == 13) {
      edit.keys.emplace_back("\0332");  // Alt+2 Left
      edit.keys.emplace_back("\033OD");
      position -= std::min<std::size_t>(position, 2);
    } else if (choice == 14) {
      edit.keys.emplace_back("\0333");  // Alt+3 Backspace (a digit after Alt+3 would add to the count)
      edit.keys.emplace_back("\177");
      const std::size_t from = position - std::min<std::size_t>(position, 3);
      edit.line.erase(from, position - from);
      position = from;
    } else if (choice == 15) {
      edit.keys.emplace_back("\033]11;rgb:0000/0000/0000\007");  // a report the terminal sends: nothing
    } else if ((choice == 16 || choice == 17) && edit.line.size() < 15) {
      const int digit = static_cast<int>(random() % 10);  // on the keypad: SS3, or kitty's code
      edit.keys.push_back(choice == 16 ? std::string("\033O") + static_cast<char>('p' + digit)
                                       : "\033[" + std::to_string(57399 + digit) + "u");
      edit.line.insert(position++, 1, static_cast<char>('0' + digit));
    } else if (choice == 18) {
      edit.keys.emplace_back("\033[97;5u");  // Ctrl+A
      position = 0;
    } else if (choice == 19) {
      edit.keys.emplace_back("\033[27;5;101~");  // Ctrl+E
      position = edit.line.size();
    }
  }
  edit.keys.emplace_back("\r");
  return edit;
}

struct Link {
  int reply_delay_ms;
  int reply_split_ms;  // the reply's first byte comes this long before the rest
  int gap_min_ms, gap_max_ms;  // between the pieces of what is typed
};

// Sends the keys through the link: the stream of their bytes in random
// pieces with random gaps, reading what comes meanwhile. A reply the
// terminal makes meanwhile joins the stream between two keys.
void type_in_pieces(PtySession& session, const std::vector<std::string>& keys, std::mt19937& random,
                    const Link& link) {
  std::string stream;
  std::vector<std::size_t> key_ends;
  for (const std::string& key : keys) key_ends.push_back((stream += key).size());
  for (std::size_t at = 0; at < stream.size();) {
    const std::size_t piece = std::min<std::size_t>(1 + random() % 4, stream.size() - at);
    session.type(stream.substr(at, piece));
    at += piece;
    session.hold_replies(std::find(key_ends.begin(), key_ends.end(), at) == key_ends.end());
    session.pump(link.gap_min_ms + static_cast<int>(random() % (link.gap_max_ms - link.gap_min_ms + 1)));
  }
  session.hold_replies(false);
}

std::string cursor_row(const PtySession& session) { return session.screen().row_text(session.screen().row()); }

bool wait_until(PtySession& session, int timeout_ms, auto done) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    session.read_more(10);
  }
  return true;
}

std::string expected_result(const std::string& line) {
  char buffer[DOUBLE_TEXT_BUFFER];
  return std::string("C= ") + number_to_text(buffer, 16, true, fahrenheit_to_celsius(std::strtod(line.c_str(), nullptr)));
}

struct Counts {
  int trials = 0, wrong_results = 0, wrong_echoes = 0, requests = 0;
};

// An xterm whose screen is emulated and answers requests at once.
PtyOptions emulated_xterm(const std::string& program) {
  PtyOptions options;
  options.env = {"TERM=xterm"};
  options.emulate = true;
  options.program = program;
  return options;
}

Counts run_trials(const Link& link, int trials, unsigned seed, const std::string& program) {
  PtyOptions options = emulated_xterm(program);
  options.reply_delay_ms = link.reply_delay_ms;
  options.reply_split_ms = link.reply_split_ms;
  PtySession session(options);
  Counts counts;
  std::mt19937 random(seed);
  if (!wait_until(session, 15000, [&] { return cursor_row(session) == "?"; })) return counts;
  const bool show = std::getenv("FRAGMENTED_LINK_SHOW") != nullptr;
  // A trial that leaves the program elsewhere than at the next prompt counts
  // as wrong; Enter brings the menu back for the next one.
  auto recover = [&](const char* what) {
    ++counts.trials;
    ++counts.wrong_results;
    ++counts.wrong_echoes;
    if (show) std::fprintf(stderr, "%s; the screen:\n%s\n", what, session.screen().text().c_str());
    for (int enter = 0; enter < 3 && cursor_row(session) != "?"; ++enter) {
      session.type("\r");
      wait_until(session, 3000, [&] { return cursor_row(session) == "?"; });
    }
    return cursor_row(session) == "?";
  };
  std::vector<std::string> history;  // the lines entered at the Fahrenheit prompt, newest last
  for (int trial = 0; trial < trials; ++trial) {
    type_in_pieces(session, {"1", "\r"}, random, link);
    if (!wait_until(session, 5000, [&] { return cursor_row(session).rfind(kPrompt, 0) == 0; })) {
      if (!recover("no prompt after the choice")) break;
      continue;
    }
    const Edit edit = random_edit(random, history);
    type_in_pieces(session, edit.keys, random, link);
    if (!wait_until(session, 5000, [&] { return cursor_row(session) == "?"; })) {
      if (!recover(("no menu after \"" + edit.line + "\"").c_str())) break;
      continue;
    }
    ++counts.trials;
    // The screen: ..., the echoed line, the result, the menu, "?".
    const VtScreen& screen = session.screen();
    const int result_row = screen.row() - 5;
    const bool right_result = screen.row_text(result_row) == expected_result(edit.line);
    const bool right_echo = screen.row_text(result_row - 1) == kPrompt + " " + edit.line ||
                            (edit.line.empty() && screen.row_text(result_row - 1) == kPrompt);
    counts.wrong_results += right_result ? 0 : 1;
    counts.wrong_echoes += right_echo ? 0 : 1;
    if (!edit.line.empty() && (history.empty() || history.back() != edit.line)) history.push_back(edit.line);
    if ((!right_result || !right_echo) && show) {
      std::string keys;
      for (const std::string& key : edit.keys) keys += key;
      for (char& c : keys) c = c == '\033' ? '~' : (c == '\177' ? '<' : c);
      std::fprintf(stderr, "expected \"%s\" from %s; the screen:\n%s\n", edit.line.c_str(), keys.c_str(),
                   screen.text().c_str());
    }
  }
  counts.requests = session.requests_seen();
  session.type("3\r");
  session.wait_for_exit(10000);
  return counts;
}

// Keys typed after the exit choice over the link: "1 212", then at once "3"
// and a command for the shell. Counts the runs in which the shell did not
// get the command whole.
int type_ahead_lost(const Link& link, int runs, unsigned seed, const std::string& program) {
  std::mt19937 random(seed);
  int lost = 0;
  for (int run = 0; run < runs; ++run) {
    PtyOptions options = emulated_xterm(program);
    options.reply_delay_ms = link.reply_delay_ms;
    options.reply_split_ms = link.reply_split_ms;
    options.linger_ms = 1500;
    PtySession session(options);
    if (!wait_until(session, 15000, [&] { return cursor_row(session) == "?"; })) {
      ++lost;
      continue;
    }
    type_in_pieces(session, {"1", "\r", "2", "1", "2", "\r", "3", "\r", "e", "c", "h", "o", " ", "h", "i", "\r"}, random,
                   link);
    session.wait_for_exit(15000);
    lost += session.input_left() == "echo hi\n" ? 0 : 1;
  }
  return lost;
}

// The time from the Escape key to the line cleared on the screen: a lone
// ESC, or with the kitty protocol CSI 27 u; on a quick link, or on one that
// has brought a key in pieces 300 ms apart (CSI 27 u then comes so too).
double escape_echo_ms(const std::string& program, bool kitty, bool stalled) {
  PtyOptions options = emulated_xterm(program);
  options.kitty_keyboard = kitty;
  PtySession session(options);
  std::vector<double> times;
  if (!wait_until(session, 10000, [&] { return cursor_row(session) == "?"; })) return -1;
  session.type("1\r");
  if (!wait_until(session, 10000, [&] { return cursor_row(session) == kPrompt; })) return -1;
  for (int i = 0; i < 7; ++i) {
    session.type("123");
    if (stalled) {  // Left in two pieces, then Right
      session.type("\033O");
      session.pump(300);
      session.type("D\033OC");
    }
    if (!wait_until(session, 5000, [&] { return cursor_row(session) == kPrompt + " 123"; })) return -1;
    session.settle(150);
    const auto start = Clock::now();
    if (kitty && stalled) {
      session.type("\033[2");
      session.pump(300);
      session.type("7u");
    } else {
      session.type(kitty ? "\033[27u" : "\033");
    }
    if (!wait_until(session, 5000, [&] { return cursor_row(session) == kPrompt; })) return -1;
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  session.type("\r3\r");
  session.wait_for_exit(5000);
  return times[times.size() / 2];
}

// How often the program wakes while it waits at a prompt with nothing typed.
long idle_wakeups(const std::string& program) {
  PtySession session(emulated_xterm(program));
  if (!wait_until(session, 10000, [&] { return cursor_row(session) == "?"; })) return -1;
  session.settle(300);
  const long before = process_status(session.program_pid(), "voluntary_ctxt_switches");
  session.pump(3000);
  const long after = process_status(session.program_pid(), "voluntary_ctxt_switches");
  session.type("3\r");
  session.wait_for_exit(5000);
  return after - before;
}

}  // namespace

int main(int argc, char** argv) {
  const int trials = argc > 1 ? std::atoi(argv[1]) : 20;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
  const std::string program = argc > 3 ? argv[3] : "";
  std::printf("%-44s | trials | wrong results | wrong echoed lines | requests\n", "link");
  const struct {
    const char* name;
    Link link;
    int trials;
  } links[] = {
      {"pieces 1-60 ms apart, replies 0 s late", {0, 0, 1, 60}, trials},
      {"pieces 1-60 ms apart, replies 0.5 s late", {500, 0, 1, 60}, trials},
      {"pieces 1-60 ms apart, replies 1.2 s late", {1200, 0, 1, 60}, trials},
      {"pieces 1-60 ms apart, replies 2.5 s late", {2500, 0, 1, 60}, trials},
      {"stalls 120-450 ms, replies 0.4 s late, split", {400, 150, 120, 450}, std::max(1, trials / 3)},
  };
  for (const auto& l : links) {
    const Counts c = run_trials(l.link, l.trials, seed, program);
    std::printf("%-44s | %6d | %13d | %18d | %8d\n", l.name, c.trials, c.wrong_results, c.wrong_echoes, c.requests);
  }
  std::printf("\n%-44s | runs | the shell's line lost\n", "keys after the exit choice, link");
  for (const auto& l : links) {
    const int runs = std::max(1, l.trials / 2);
    std::printf("%-44s | %4d | %21d\n", l.name, runs, type_ahead_lost(l.link, runs, seed, program));
  }
  std::printf("\nthe Escape key clears the line after (median of 7):\n");
  for (const bool kitty : {false, true}) {
    for (const bool stalled : {false, true}) {
      std::printf("  %-40s %-32s %7.1f ms\n", kitty ? "with the kitty protocol (CSI 27 u)" : "a lone ESC, without the protocol",
                  stalled ? "after a key came in pieces" : "on a quick link", escape_echo_ms(program, kitty, stalled));
    }
  }
  std::printf("an idle prompt woke %ld times in 3 s\n", idle_wakeups(program));
  return 0;
}
