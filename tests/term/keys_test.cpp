// SPDX-License-Identifier: MIT
// Key decoding fed from a byte script: plain bytes and their mapping, escape
// sequences through the tree, sequences split across reads, Alt, replies
// among keys, the mouse report, partial and unknown sequences, the queue's
// capacity, and the key-arrived flag.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/term/keyboard.h"
#include "runtime/term/term.h"
#include "runtime/term/term_internal.h"
#include "tests/support/fixtures.h"

namespace {

using key_script::GAP;
using key_script::PAUSE;

// An invented terminal entry: xterm-like application keys plus a few oddities.
std::map<std::string, std::string> entry;
const char* entry_lookup(const char* id) {
  const auto found = entry.find(id);
  return found != entry.end() ? found->second.c_str() : nullptr;
}

class KeyDecoding : public ::testing::Test {
 protected:
  KeyDecoding() {
    entry = {{"kb", "\177"}, {"ku", "\033OA"}, {"kd", "\033OB"}, {"kl", "\033OD"}, {"kr", "\033OC"},
             {"kh", "\033OH"}, {"@7", "\033OF"}, {"kD", "\033[3~"}, {"kP", "\033[5~"}, {"k1", "\033OP"}};
    rebuild();
  }
  static void rebuild() { InventedTerminal::use_keys(entry_lookup); }
  static void feed(std::vector<int> bytes) { key_script::feed(std::move(bytes)); }
  static std::vector<int32_t> take_all() {
    std::vector<int32_t> keys;
    for (int i = 0; i < 600; ++i) {
      const int32_t key = read_key(KeyRead::Take);
      if (key >= 0) keys.push_back(key);
      if (key_script::used_up() && key_queue_empty() && !keyboard_has_pending()) break;
    }
    return keys;
  }

 private:
  InventedTerminal terminal_{key_script::reader};
};

using Keys = std::vector<int32_t>;

TEST_F(KeyDecoding, PlainBytesWithTheByteMapping) {
  feed({'a', 127, 10, 13, 0, 0xFF, 9});
  EXPECT_EQ(take_all(), (Keys{'a', 8, 13, 13, 0, 0xFF, 9}));
}

TEST_F(KeyDecoding, SequencesOfTheEntryBecomeExtendedKeys) {
  feed({27, 'O', 'A', 27, 'O', 'D', 27, '[', '3', '~', 27, 'O', 'H', 27, 'O', 'F', 27, 'O', 'P'});
  EXPECT_EQ(take_all(), (Keys{0x48FF, 0x4BFF, 0x53FF, 0x47FF, 0x4FFF, 0x3BFF}));
}

TEST_F(KeyDecoding, EscapeAloneIsTheEscapeKeyAndEscapeBeforeAKeyIsAlt) {
  feed({27, PAUSE, 'x'});
  EXPECT_EQ(take_all(), (Keys{27, 'x'}));
  feed({27, GAP, 'x', 27, 'B', 27, 'd', 27, 127, 27, 8, 27, 27, '[', 'D', 27, 27, 'O', 'C', 27, '[', '1', ';', '3', 'D'});
  EXPECT_EQ(take_all(), (Keys{extended_key(0x2D), KEY_ALT_B, KEY_ALT_D, KEY_ALT_BACKSPACE, KEY_ALT_BACKSPACE,
                              KEY_ALT_LEFT, KEY_ALT_RIGHT, KEY_ALT_LEFT}));
}

// Every cut point of each key, the two pieces arriving in two reads 60 ms
// apart, and again with a stall longer than the escape delay between them:
// still the whole key. A lone ESC acted on as the Escape key before the rest
// of its sequence came is taken back (KEY_ESCAPE_UNDONE) when the rest makes
// the key with it; a key typed after an Escape is that key.
TEST_F(KeyDecoding, AKeySplitAcrossReadsIsTheWholeKey) {
  const struct {
    const char* name;
    std::string bytes;
    int32_t key;
    Keys stalled_after_escape;  // the keys when the stall comes right after the ESCs
  } cases[] = {
      {"Left", "\033OD", KEY_LEFT, {27, KEY_ESCAPE_UNDONE, KEY_LEFT}},
      {"Delete", "\033[3~", KEY_DELETE, {27, KEY_ESCAPE_UNDONE, KEY_DELETE}},
      {"Home", "\033OH", KEY_HOME, {27, KEY_ESCAPE_UNDONE, KEY_HOME}},
      {"End", "\033[4~", KEY_END, {27, KEY_ESCAPE_UNDONE, KEY_END}},
      {"Ctrl+Left", "\033[1;5D", KEY_CTRL_LEFT, {27, KEY_ESCAPE_UNDONE, KEY_CTRL_LEFT}},
      {"F5", "\033[15~", KEY_F5, {27, KEY_ESCAPE_UNDONE, KEY_F5}},
      {"Shift+Tab (unknown)", "\033[Z", -1, {27, KEY_ESCAPE_UNDONE}},
      {"Alt+x: Escape, then x", "\033x", extended_key(0x2D), {27, 'x'}},
      {"Alt+Left as urxvt sends it: Escape, then Left", "\033\033[D", KEY_ALT_LEFT, {27, KEY_LEFT}},
  };
  entry["k5"] = "\033[15~";
  rebuild();
  for (const auto& c : cases) {
    for (const bool stall : {false, true}) {
      for (std::size_t cut = 1; cut < c.bytes.size(); ++cut) {
        term_keyboard.decoder.clear();  // a link that has shown no stall yet
        std::vector<int> bytes{'1'};
        for (std::size_t i = 0; i < c.bytes.size(); ++i) {
          if (i == cut && stall) bytes.push_back(key_script::STALL);
          if (i == cut && !stall) bytes.insert(bytes.end(), 30, GAP);  // 60 ms between the pieces
          bytes.push_back(static_cast<uint8_t>(c.bytes[i]));
        }
        bytes.push_back('2');
        Keys expected{'1'};
        if (stall && c.bytes.find_first_not_of('\033') >= cut) {  // the stall right after the ESCs
          expected.insert(expected.end(), c.stalled_after_escape.begin(), c.stalled_after_escape.end());
        } else if (c.key >= 0) {
          expected.push_back(c.key);
        }
        expected.push_back('2');
        feed(bytes);
        EXPECT_EQ(take_all(), expected) << c.name << " cut after " << cut << (stall ? " by a stall" : "");
      }
    }
  }
}

// The decoder alone, fed pieces at given times (milliseconds) and asked for
// keys as time passes: stalls inside keys and replies, a reply awaited,
// control strings, a runaway sequence, and 8-bit meta. Events read "k:<code>"
// for a key and "cursor:<row>;<column>" for a reply.
TEST(KeyDecoder, TimeAndStallsDecideWhatTheBytesAre) {
  InventedTerminal terminal(key_script::reader, key_script::xterm_keys);
  struct Piece {
    int64_t at_ms;
    std::string bytes;
  };
  const struct {
    const char* name;
    std::vector<Piece> pieces;
    std::vector<std::string> events;
    int64_t reply_awaited_until = 0;  // a request outstanding until then
    bool eight_bit_meta = false;
  } cases[] = {
      {"the rest of an arrow 150 ms after its ESC: the Escape is taken back",
       {{0, "\033"}, {150, "OD1"}}, {"k:27", "k:65279", "k:19455", "k:49"}},
      {"a stall inside a sequence, within the second", {{0, "\033[3"}, {450, "~"}}, {"k:21503"}},
      {"a reply whose ESC comes 150 ms early, while awaited", {{0, "\033"}, {150, "[5;1R"}, {200, "x"}},
       {"cursor:5;1", "k:120"}, 1000},
      {"... and when no longer awaited: not text either", {{0, "\033"}, {150, "[5;1R"}},
       {"k:27", "k:65279", "cursor:5;1"}},
      {"a lone Escape while a reply is awaited acts at the reply's deadline", {{0, "\033"}, {1200, "x"}},
       {"k:27", "k:120"}, 1000},
      {"Escape, then x: two keys", {{0, "\033"}, {150, "x"}}, {"k:27", "k:120"}},
      {"more than the sequence limit after the ESC: the rest is text", {{0, "\033"}, {1100, "[D"}},
       {"k:27", "k:91", "k:68"}},
      {"an OSC string is skipped whole", {{0, "\033]0;title\007" "5"}}, {"k:53"}},
      {"... also split by stalls, ended by ST", {{0, "\033]0;ti"}, {300, "tle\033"}, {600, "\\5"}}, {"k:53"}},
      {"a runaway sequence ends when the terminal stops sending it",
       {{0, "\033[" + std::string(300, '1')}, {10, std::string(300, '2')}, {1500, "7"}}, {"k:55"}},
      {"a control string cut right after its ESC: the Escape is taken back, the string skipped",
       {{0, "\033"}, {300, "]11;rgb:0000/0000/0000\007" "5"}}, {"k:27", "k:65279", "k:53"}},
      {"a person's Escape, then [7 and Enter: no sequence, so keys after the Escape",
       {{0, "\033"}, {300, "[7\r"}}, {"k:27", "k:91", "k:55", "k:13"}},
      {"after a key that came in pieces 300 ms apart, a lone ESC waits as long: Alt+B whole",
       {{0, "\033[3"}, {300, "~"}, {1000, "\033"}, {1300, "b"}}, {"k:21503", "k:12543"}},
      {"8-bit meta: 0xE2 is Alt+B", {{0, "\xe2" "a"}}, {"k:12543", "k:97"}, 0, true},
      {"without it, the byte itself", {{0, "\xe2"}}, {"k:226"}},
  };
  for (const auto& c : cases) {
    KeyDecoder decoder;
    decoder.set_tree_source(key_tree);
    decoder.set_eight_bit_meta(c.eight_bit_meta);
    decoder.await_reply_until(c.reply_awaited_until);
    std::vector<std::string> events;
    std::size_t next_piece = 0;
    for (int64_t now = 0; now <= 5000; now += 10) {
      while (next_piece < c.pieces.size() && c.pieces[next_piece].at_ms <= now) {
        const std::string& bytes = c.pieces[next_piece++].bytes;
        decoder.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), now);
      }
      for (KeyEvent e; (e = decoder.next(now)).kind != KeyEvent::Kind::None;) {
        events.push_back(e.kind == KeyEvent::Kind::Key ? "k:" + std::to_string(e.key)
                                                       : "cursor:" + std::to_string(e.row) + ";" + std::to_string(e.column));
      }
    }
    EXPECT_EQ(events, c.events) << c.name;
  }
}

TEST_F(KeyDecoding, RepliesAmongKeysAreNeverKeys) {
  const struct {
    const char* name;
    std::vector<int> bytes;
  } cases[] = {
      {"cursor report", {'1', 27, '[', '2', '4', ';', '8', '0', 'R', '2'}},
      {"split and late", {'1', 27, '[', '2', '4', GAP, GAP, ';', '8', GAP, '0', 'R', '2'}},
      {"size report", {'1', 27, '[', '8', ';', '2', '4', ';', '8', '0', 't', '2'}},
      {"after an Escape", {'1', 27, 27, '[', '5', ';', '1', 'R', '2'}},
  };
  for (const auto& c : cases) {
    feed(c.bytes);
    Keys keys = take_all();
    if (c.bytes[2] == 27) keys.erase(keys.begin() + 1);  // the Escape key before it
    EXPECT_EQ(keys, (Keys{'1', '2'})) << c.name;
  }
}

TEST_F(KeyDecoding, UnknownSequencesAreSkippedByTheirSyntaxAndTheKeysAfterThemKept) {
  const struct {
    const char* name;
    std::vector<int> bytes;
    Keys keys;
  } cases[] = {
      {"Ctrl+Up", {27, '[', '1', ';', '5', 'A', '3', '4', 13}, {'3', '4', 13}},
      {"Shift+Tab", {27, '[', 'Z', 'x'}, {'x'}},
      {"Alt+x", {27, 'x', 'y'}, {extended_key(0x2D), 'y'}},
      {"Alt with a digit", {27, '5', 'y'}, {KEY_ALT_1 + 4 * 256, 'y'}},
      {"Alt with a key that has none", {27, '=', 'y'}, {'y'}},
      {"unknown SS3 key", {27, 'O', 'Z', 's'}, {'s'}},
      {"SS3 not in the entry", {27, 'O', 'x'}, {}},
      {"known prefix, unknown end", {27, '[', '9', '9', '~', 'a'}, {'a'}},
      {"SGR mouse report", {27, '[', '<', '0', ';', '1', ';', '2', 'M', 'k'}, {'k'}},
      {"a control byte cuts a sequence", {27, '[', '1', '2', 13, '5'}, {13, '5'}},
      {"Escape twice, then Alt+q", {27, 27, 'q', 'r'}, {27, extended_key(0x10), 'r'}},
      {"Escape and at once an arrow: Alt+Up", {27, 27, 'O', 'A', 'r'}, {'r'}},
      {"Escape, then later an arrow", {27, PAUSE, 27, 'O', 'A'}, {27, 0x48FF}},
      {"Escape twice, nothing after", {27, 27, PAUSE, 'r'}, {27, 27, 'r'}},
  };
  for (const auto& c : cases) {
    feed(c.bytes);
    EXPECT_EQ(take_all(), c.keys) << c.name;
  }
  // A sequence that never ends (a terminal gone wrong) is thrown away as it comes, never typed.
  std::vector<int> endless{'1', 27, '['};
  for (int i = 0; i < 100000; ++i) endless.push_back(i % 4000 == 0 ? GAP : '0' + i % 10);
  endless.insert(endless.end(), {'R', '2', 13});
  feed(endless);
  EXPECT_EQ(take_all(), (Keys{'1', '2', 13}));
}

TEST_F(KeyDecoding, UsualSpellingsWorkBesideTheEntrysOwn) {
  // The entry sends application-mode arrows; the emulator may send the others.
  feed({27, '[', 'A', 27, '[', 'D', 27, '[', 'H', 27, '[', '1', '~', 27, '[', '7', '~', 27, '[', 'F',
        27, '[', '4', '~', 27, '[', '8', '~', 27, 'O', 'A', 27, '[', '3', '~'});
  EXPECT_EQ(take_all(), (Keys{0x48FF, 0x4BFF, 0x47FF, 0x47FF, 0x47FF, 0x4FFF, 0x4FFF, 0x4FFF, 0x48FF, 0x53FF}));
  // The Linux console's F1 to F5, and Ctrl with the arrows as xterm and rxvt send them.
  feed({27, '[', '[', 'A', 27, '[', '[', 'E', 27, '[', '1', ';', '5', 'C', 27, 'O', 'd', 27, '[', '5', 'D'});
  EXPECT_EQ(take_all(), (Keys{KEY_F1, KEY_F5, KEY_CTRL_RIGHT, KEY_CTRL_LEFT, KEY_CTRL_LEFT}));
  entry["kh"] = "\033[1~";  // the entry's own string wins where it differs
  entry["kI"] = "\033[4~";
  rebuild();
  feed({27, '[', '1', '~', 27, '[', '4', '~'});
  EXPECT_EQ(take_all(), (Keys{0x47FF, 0x52FF}));
}

TEST_F(KeyDecoding, MouseReportIsSwallowedWithItsThreeBytes) {
  feed({27, '[', 'M', ' ', '!', '!', 'k'});
  EXPECT_EQ(take_all(), (Keys{'k'}));
}

TEST_F(KeyDecoding, APrefixLeftLongerThanTheLimitIsDroppedAndTheRestArrivesPlain) {
  feed({27, '[', PAUSE, 'A'});
  EXPECT_EQ(take_all(), (Keys{'A'}));
}

TEST_F(KeyDecoding, QueueKeepsTheLast255Keys) {
  for (int i = 0; i < 256; ++i) key_queue_push_byte(i % 200 + 32);
  Keys keys;
  for (int32_t key; (key = read_key(KeyRead::Take)) >= 0;) keys.push_back(key);
  ASSERT_EQ(keys.size(), 255u);
  EXPECT_EQ(keys.front(), 1 % 200 + 32);  // the first push was dropped
  EXPECT_EQ(keys.back(), 255 % 200 + 32);
}

TEST_F(KeyDecoding, ReadKeyReturnsTheOldestKeyNotTheOneJustRead) {
  key_queue_push_byte('1');
  feed({'2'});
  EXPECT_EQ(read_key(KeyRead::Peek), '1');  // '2' is read into the queue behind it
  EXPECT_EQ(read_key(KeyRead::Take), '1');
  EXPECT_EQ(read_key(KeyRead::Take), '2');
  EXPECT_LT(read_key(KeyRead::Take), 0);
}

TEST_F(KeyDecoding, KeyAvailableReportsArrivalsSinceItsLastCall) {
  feed({'q'});
  EXPECT_EQ(key_arrived_since_asked(), 1);
  EXPECT_EQ(key_arrived_since_asked(), 0);  // the key is still queued, but nothing new arrived
  EXPECT_EQ(next_key_string(), "q");
  EXPECT_EQ(next_key_string(), "");
}

TEST_F(KeyDecoding, KeyStrings) {
  feed({27, 'O', 'A', 0, 'z'});
  EXPECT_EQ(next_key_string(), std::string("\xff\x48", 2));
  EXPECT_EQ(next_key_string(), std::string(1, '\0'));
  EXPECT_EQ(next_key_string(), "z");
}

TEST_F(KeyDecoding, TerminalHandlingOffReadsNoKeys) {
  term.device.kind = TERM_KIND_OFF;
  feed({'a'});
  EXPECT_EQ(next_key_string(), "");
  EXPECT_FALSE(key_script::used_up());
}

TEST_F(KeyDecoding, EntriesThatOverlapDecodeByTheFirstRowAndTheFirstKeyOnTheWay) {
  const std::map<std::string, std::string> overlapping = {
      {"kb", "\033[Z"}, {"ku", "\033[A"}, {"kd", "\033[B"},  {"kP", "\033[5"},
      {"kN", "\033[5~"}, {"k1", "\033OP"}, {"F1", "\033OP"}};
  const struct {
    std::map<std::string, std::string> entry;
    std::vector<int> bytes;
    Keys keys;
  } cases[] = {
      // Keys sharing a prefix; F1 keeps k1's code; "[5" is a key on the way to "[5~".
      {overlapping, {27, '[', 'A', 27, '[', 'B', 27, 'O', 'P', 27, '[', '5', '~'}, {0x48FF, 0x50FF, 0x3BFF, 0x49FF, '~'}},
      // A sequence for kb is Backspace, and so is a lone 127 (a one-byte entry has no sequence).
      {overlapping, {27, '[', 'Z', 127}, {8, 8}},
      // The longer key entered first: its prefix carries no key of its own.
      {{{"kP", "\033[5~"}, {"kN", "\033[5"}}, {27, '[', '5', '~', 27, '[', '5', PAUSE, 'x'}, {0x49FF, 'x'}},
  };
  for (const auto& c : cases) {
    entry = c.entry;
    rebuild();
    feed(c.bytes);
    EXPECT_EQ(take_all(), c.keys) << ::testing::PrintToString(c.bytes);
  }
}

TEST_F(KeyDecoding, ArbitraryBytesNeverStopTheKeysAfterThem) {
  std::vector<int> bytes;
  uint32_t seed = 12345;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 1103515245 + 12345;
    const int b = static_cast<int>((seed >> 16) % 300);
    // Line ends wait for the line before them to be taken: none here, where nothing takes lines.
    const bool line_end = b == '\r' || b == '\n' || b == 4;
    bytes.push_back(line_end ? 'x' : b < 256 ? b : (b < 280 ? 27 : (b < 290 ? GAP : PAUSE)));
  }
  bytes.insert(bytes.end(), {PAUSE, 27, 'O', 'A', 'o', 'k'});
  feed(bytes);
  Keys keys;
  for (int i = 0; i < 40000 && !(key_script::used_up() && key_queue_empty() && !keyboard_has_pending()); ++i) {
    const int32_t key = read_key(KeyRead::Take);
    if (key >= 0) keys.push_back(key);
  }
  ASSERT_GE(keys.size(), 3u);
  EXPECT_EQ(Keys(keys.end() - 3, keys.end()), (Keys{0x48FF, 'o', 'k'}));
}

}  // namespace
