// SPDX-License-Identifier: MIT
// Key decoding fed from a byte script: plain bytes and their mapping, escape
// sequences through the tree, sequences split across reads, Alt, replies
// among keys, the mouse report, partial and unknown sequences, the queue's
// capacity, and the key-arrived flag.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/term/keyboard/keyboard.h"
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
  // The keys decoded, as people name them.
  static std::vector<std::string> take_all() {
    std::vector<std::string> keys;
    for (int i = 0; i < 600; ++i) {
      if (const Key key = next_key()) keys.push_back(key_description(key));
      if (key_script::used_up() && key_queue_empty() && !keyboard_has_pending()) break;
    }
    return keys;
  }

 private:
  InventedTerminal terminal_{key_script::reader};
};

using Keys = std::vector<std::string>;

TEST_F(KeyDecoding, PlainBytesWithTheByteMapping) {
  feed({'a', 127, 10, 13, 0, 0xFF, 9, 8});
  EXPECT_EQ(take_all(), (Keys{"a", "Backspace", "Enter", "Enter", "Ctrl+@", "\\xFF", "Tab", "Backspace"}));
}

TEST_F(KeyDecoding, SequencesOfTheEntryBecomeExtendedKeys) {
  feed({27, 'O', 'A', 27, 'O', 'D', 27, '[', '3', '~', 27, 'O', 'H', 27, 'O', 'F', 27, 'O', 'P'});
  EXPECT_EQ(take_all(), (Keys{"Up", "Left", "Delete", "Home", "End", "F1"}));
}

TEST_F(KeyDecoding, EscapeAloneIsTheEscapeKeyAndEscapeBeforeAKeyIsAlt) {
  feed({27, PAUSE, 'x'});
  EXPECT_EQ(take_all(), (Keys{"Escape", "x"}));
  feed({27, GAP, 'x', 27, 'B', 27, 'd', 27, 127, 27, 8, 27, 27, '[', 'D', 27, 27, 'O', 'C', 27, '[', '1', ';', '3', 'D'});
  EXPECT_EQ(take_all(), (Keys{"Alt+x", "Alt+B", "Alt+d", "Alt+Backspace", "Alt+Backspace", "Alt+Left", "Alt+Right",
                              "Alt+Left"}));
}

// Every cut point of each key, the two pieces arriving in two reads 60 ms
// apart, and again with a stall longer than the escape delay between them:
// still the whole key, in every form terminals send. A lone ESC acted on as
// the Escape key before the rest of its sequence came is taken back
// (EscapeTakenBack) when the rest makes the key with it; a key typed after
// an Escape is that key.
TEST_F(KeyDecoding, AKeySplitAcrossReadsIsTheWholeKey) {
  const struct {
    const char* name;
    std::string bytes;
    const char* key;            // "" for no key
    Keys stalled_after_escape = {};  // the keys when the stall comes right after the ESCs (default: taken back)
  } cases[] = {
      {"Left", "\033OD", "Left"},
      {"Delete", "\033[3~", "Delete"},
      {"Home", "\033OH", "Home"},
      {"End", "\033[4~", "End"},
      {"Ctrl+Left", "\033[1;5D", "Ctrl+Left"},
      {"F5", "\033[15~", "F5"},
      {"Shift+F5", "\033[15;2~", "Shift+F5"},
      {"Alt+Delete", "\033[3;3~", "Alt+Delete"},
      {"Shift+Tab", "\033[Z", "Shift+Tab"},
      {"rxvt's Ctrl+Right", "\033Oc", "Ctrl+Right"},
      {"rxvt's Shift+Insert", "\033[2$", "Shift+Insert"},
      {"the keypad's minus in application mode", "\033Om", "KP -"},
      {"the keypad's Enter", "\033OM", "KP Enter"},
      {"the keypad's 4 with NumLock off (PuTTY)", "\033Ot", "KP 4"},
      {"CSI u: Ctrl+A", "\033[97;5u", "Ctrl+A"},
      {"CSI u: Alt+Shift+b", "\033[98;4u", "Alt+B"},
      {"CSI u: Escape", "\033[27u", "Escape"},
      {"CSI u: Ctrl+Backspace, as sent without the protocol: Backspace", "\033[127;5u", "Backspace"},
      {"CSI u: Alt+Enter", "\033[13;3u", "Alt+Enter"},
      {"CSI u: Shift+Tab", "\033[9;2u", "Shift+Tab"},
      {"CSI u: Ctrl+A with Caps Lock and Num Lock", "\033[97;197u", "Ctrl+A"},
      {"CSI u: Alt with a character", "\033[233;3u", "Alt+U+00E9"},
      {"CSI u: a key's release", "\033[97;5:3u", ""},
      {"CSI u: an unknown functional key", "\033[57428u", ""},
      {"kitty's keypad Enter", "\033[57414u", "KP Enter"},
      {"kitty's keypad +", "\033[57413u", "KP +"},
      {"modifyOtherKeys: Ctrl+A", "\033[27;5;97~", "Ctrl+A"},
      {"Alt+x: Escape, then x", "\033x", "Alt+x", {"Escape", "x"}},
      {"Alt+Left as urxvt sends it: Escape, then Left", "\033\033[D", "Alt+Left", {"Escape", "Left"}},
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
        Keys expected{"1"};
        if (stall && c.bytes.find_first_not_of('\033') >= cut) {  // the stall right after the ESCs
          Keys stalled = c.stalled_after_escape;
          if (stalled.empty()) {
            stalled = {"Escape", "EscapeTakenBack"};
            if (*c.key != '\0') stalled.push_back(c.key);
          }
          expected.insert(expected.end(), stalled.begin(), stalled.end());
        } else if (*c.key != '\0') {
          expected.push_back(c.key);
        }
        expected.push_back("2");
        feed(bytes);
        EXPECT_EQ(take_all(), expected) << c.name << " cut after " << cut << (stall ? " by a stall" : "");
      }
    }
  }
}

// The decoder alone, fed pieces at given times (milliseconds) and asked for
// keys as time passes: stalls inside keys and replies, a reply awaited,
// control strings, a runaway sequence, 8-bit meta, bracketed pastes, and
// the Escape key as the kitty protocol sends it. Events read "k:<key>" for a
// key, "cursor:<row>;<column>" for a cursor report, "size:<rows>x<columns>"
// for a size report, "keyboard:<flags>" and
// "attributes" for the keyboard protocol's answers.
TEST(KeyDecoder, TimeAndStallsDecideWhatTheBytesAre) {
  InventedTerminal terminal(key_script::reader, key_script::xterm_keys);
  struct Piece {
    int64_t at_ms;
    std::string bytes;
  };
  const std::string paste_end = "\033[201~";
  const struct {
    const char* name;
    std::vector<Piece> pieces;
    std::vector<std::string> events;
    int64_t reply_awaited_until = 0;  // a request outstanding until then
    bool eight_bit_meta = false;
    bool escape_reported = false;     // the kitty protocol is on
    bool seven_bit = false;           // the inputrc's input-meta off
  } cases[] = {
      {"the rest of an arrow 150 ms after its ESC: the Escape is taken back",
       {{0, "\033"}, {150, "OD1"}}, {"k:Escape", "k:EscapeTakenBack", "k:Left", "k:1"}},
      {"a stall inside a sequence, within the second", {{0, "\033[3"}, {450, "~"}}, {"k:Delete"}},
      {"a reply whose ESC comes 150 ms early, while awaited", {{0, "\033"}, {150, "[5;1R"}, {200, "x"}},
       {"cursor:5;1", "k:x"}, 1000},
      {"... and when no longer awaited: not text either", {{0, "\033"}, {150, "[5;1R"}},
       {"k:Escape", "k:EscapeTakenBack", "cursor:5;1"}},
      {"a lone Escape while a reply is awaited acts at the reply's deadline", {{0, "\033"}, {1200, "x"}},
       {"k:Escape", "k:x"}, 1000},
      {"Escape, then x: two keys", {{0, "\033"}, {150, "x"}}, {"k:Escape", "k:x"}},
      {"more than the sequence limit after the ESC: the rest is text", {{0, "\033"}, {1100, "[D"}},
       {"k:Escape", "k:[", "k:D"}},
      {"ESC O and a byte no SS3 key ends with, after an Escape: the Escape stands",
       {{0, "55\033"}, {300, "O7"}}, {"k:5", "k:5", "k:Escape", "k:O", "k:7"}},
      {"... and one with a modifier no key here takes is taken back, the sequence skipped",
       {{0, "55\033"}, {300, "O9A7"}}, {"k:5", "k:5", "k:Escape", "k:EscapeTakenBack", "k:7"}},
      {"an OSC string is skipped whole", {{0, "\033]0;title\007" "5"}}, {"k:5"}},
      {"... and ends at an ESC that begins a key", {{0, "\033]0;ti\033x5"}}, {"k:Alt+x", "k:5"}},
      {"... also split by stalls, ended by ST", {{0, "\033]0;ti"}, {300, "tle\033"}, {600, "\\5"}}, {"k:5"}},
      {"an overlong control string ended by ST, split after its ESC",
       {{0, "\033]" + std::string(300, 'a')}, {10, "\033"}, {300, "\\5"}}, {"k:5"}},
      {"a size report is rows, then columns; with a number more it is none, and so is the size in pixels",
       {{0, "\033[8;24;80t\033[8;24;80;1t\033[5;1;2R\033[4;600;800t1"}}, {"size:24x80", "k:1"}},
      {"a runaway sequence ends when the terminal stops sending it",
       {{0, "\033[" + std::string(300, '1')}, {300, std::string(300, '2')}, {1500, "7"}}, {"k:7"}},
      {"a control string cut right after its ESC: the Escape is taken back, the string skipped",
       {{0, "\033"}, {300, "]11;rgb:0000/0000/0000\007" "5"}}, {"k:Escape", "k:EscapeTakenBack", "k:5"}},
      {"a person's Escape, then [7 and Enter: no sequence, so keys after the Escape",
       {{0, "\033"}, {300, "[7\r"}}, {"k:Escape", "k:[", "k:7", "k:Enter"}},
      {"after a key that came in pieces 300 ms apart, a lone ESC waits as long: Alt+B whole",
       {{0, "\033[3"}, {300, "~"}, {1000, "\033"}, {1300, "b"}}, {"k:Delete", "k:Alt+b"}},
      {"... also after a quick key in pieces: the wait is the longest the link has shown",
       {{0, "\033[3"}, {300, "~"}, {500, "\033[3"}, {510, "~"}, {1000, "\033"}, {1300, "b"}},
       {"k:Delete", "k:Delete", "k:Alt+b"}},
      {"8-bit meta: 0xE2 is Alt+B", {{0, "\xe2" "a"}}, {"k:Alt+b", "k:a"}, 0, true},
      {"without it, the byte itself", {{0, "\xe2"}}, {"k:\\xE2"}},
      {"... or, with the eighth bit stripped, b", {{0, "\xe2"}}, {"k:b"}, 0, false, false, true},
      {"the kitty protocol's answer and the device attributes are replies, split or not",
       {{0, "1\033[?0u\033[?62;"}, {400, "c2"}}, {"k:1", "keyboard:0", "attributes", "k:2"}},
      {"under the protocol a lone ESC begins a sequence: Alt+B over a stalling link",
       {{0, "\033"}, {400, "b"}}, {"k:Alt+b"}, 0, false, true},
      {"... and the Escape key comes whole, at once", {{0, "\033[27u"}}, {"k:Escape"}, 0, false, true},
      {"a paste: every byte text, control bytes too, and one end",
       {{0, "\033[200~1\r\0332\t\003" + paste_end + "x"}},
       {"k:PasteStart", "k:pasted 1", "k:pasted Ctrl+M", "k:pasted Ctrl+[", "k:pasted 2", "k:pasted Ctrl+I",
        "k:pasted Ctrl+C", "k:PasteEnd", "k:x"}},
      {"a CR LF in a paste is one line break, across reads too", {{0, "\033[200~1\r"}, {300, "\n2\n\n" + paste_end}},
       {"k:PasteStart", "k:pasted 1", "k:pasted Ctrl+M", "k:pasted 2", "k:pasted Ctrl+J", "k:pasted Ctrl+J", "k:PasteEnd"}},
      {"... its end mark split by a stall", {{0, "\033[200~5\033[2"}, {300, "01~6"}},
       {"k:PasteStart", "k:pasted 5", "k:PasteEnd", "k:6"}},
      {"... and an end that never comes: what came is text, ended after the sequence limit",
       {{0, "\033[200~7\033[20"}, {2000, "8"}},
       {"k:PasteStart", "k:pasted 7", "k:pasted Ctrl+[", "k:pasted [", "k:pasted 2", "k:pasted 0", "k:PasteEnd", "k:8"}},
      {"a reply after a paste is a reply", {{0, "\033[200~\033[5;1R" + paste_end + "\033[6;1R"}},
       {"k:PasteStart", "k:pasted Ctrl+[", "k:pasted [", "k:pasted 5", "k:pasted ;", "k:pasted 1", "k:pasted R",
        "k:PasteEnd", "cursor:6;1"}},
  };
  for (const auto& c : cases) {
    KeyDecoder decoder;
    decoder.set_tree_source(key_tree);
    decoder.set_eight_bit_meta(c.eight_bit_meta);
    decoder.set_escape_reported(c.escape_reported);
    decoder.set_seven_bit(c.seven_bit);
    decoder.await_reply_until(c.reply_awaited_until);
    std::vector<std::string> events;
    std::size_t next_piece = 0;
    for (int64_t now = 0; now <= 5000; now += 10) {
      while (next_piece < c.pieces.size() && c.pieces[next_piece].at_ms <= now) {
        const std::string& bytes = c.pieces[next_piece++].bytes;
        decoder.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), now);
      }
      for (KeyEvent e; (e = decoder.next(now)).kind != KeyEvent::Kind::None;) {
        switch (e.kind) {
          case KeyEvent::Kind::Key: events.push_back("k:" + key_description(e.key)); break;
          case KeyEvent::Kind::KeyboardReport: events.push_back("keyboard:" + std::to_string(e.row)); break;
          case KeyEvent::Kind::AttributesReport: events.push_back("attributes"); break;
          case KeyEvent::Kind::SizeReport: events.push_back("size:" + std::to_string(e.row) + "x" + std::to_string(e.column)); break;
          default: events.push_back("cursor:" + std::to_string(e.row) + ";" + std::to_string(e.column));
        }
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
    EXPECT_EQ(keys, (Keys{"1", "2"})) << c.name;
  }
}

TEST_F(KeyDecoding, UnknownSequencesAreSkippedByTheirSyntaxAndTheKeysAfterThemKept) {
  const struct {
    const char* name;
    std::vector<int> bytes;
    Keys keys;
  } cases[] = {
      {"Ctrl+Up, by its parameters", {27, '[', '1', ';', '5', 'A', '3', '4', 13}, {"Ctrl+Up", "3", "4", "Enter"}},
      {"Ctrl+Super+Up: no key here", {27, '[', '1', ';', '1', '3', 'A', '4'}, {"4"}},
      {"Alt+x", {27, 'x', 'y'}, {"Alt+x", "y"}},
      {"Alt with a digit", {27, '5', 'y'}, {"Alt+5", "y"}},
      {"ESC O and a byte no SS3 key ends with: Alt+O, then that byte", {27, 'O', 'Z', 's'}, {"Alt+O", "Z", "s"}},
      {"SS3 not in the entry: the keypad's 8", {27, 'O', 'x'}, {"KP 8"}},
      {"known prefix, unknown end", {27, '[', '9', '9', '~', 'a'}, {"a"}},
      {"SGR mouse report", {27, '[', '<', '0', ';', '1', ';', '2', 'M', 'k'}, {"k"}},
      {"a control byte cuts a sequence", {27, '[', '1', '2', 13, '5'}, {"Enter", "5"}},
      {"Escape twice, then Alt+q", {27, 27, 'q', 'r'}, {"Escape", "Alt+q", "r"}},
      {"Escape and at once an arrow: Alt+Up", {27, 27, 'O', 'A', 'r'}, {"Alt+Up", "r"}},
      {"Escape, then later an arrow", {27, PAUSE, 27, 'O', 'A'}, {"Escape", "Up"}},
      {"Escape twice, nothing after", {27, 27, PAUSE, 'r'}, {"Escape", "Escape", "r"}},
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
  EXPECT_EQ(take_all(), (Keys{"1", "2", "Enter"}));
}

TEST_F(KeyDecoding, CommonFormsWorkBesideTheEntrysOwn) {
  // The entry sends application-mode arrows; the emulator may send the others.
  feed({27, '[', 'A', 27, '[', 'D', 27, '[', 'H', 27, '[', '1', '~', 27, '[', '7', '~', 27, '[', 'F',
        27, '[', '4', '~', 27, '[', '8', '~', 27, 'O', 'A', 27, '[', '3', '~'});
  EXPECT_EQ(take_all(), (Keys{"Up", "Left", "Home", "Home", "Home", "End", "End", "End", "Up", "Delete"}));
  // The Linux console's F1 to F5, and Ctrl with the arrows as xterm and rxvt send them.
  feed({27, '[', '[', 'A', 27, '[', '[', 'E', 27, '[', '1', ';', '5', 'C', 27, 'O', 'd', 27, '[', '5', 'D'});
  EXPECT_EQ(take_all(), (Keys{"F1", "F5", "Ctrl+Right", "Ctrl+Left", "Ctrl+Left"}));
  entry["kh"] = "\033[1~";  // the entry's own string wins where it differs
  entry["kI"] = "\033[4~";
  rebuild();
  feed({27, '[', '1', '~', 27, '[', '4', '~'});
  EXPECT_EQ(take_all(), (Keys{"Home", "Insert"}));
}

TEST_F(KeyDecoding, MouseReportIsSwallowedWithItsThreeBytes) {
  feed({27, '[', 'M', ' ', '!', '!', 'k'});
  EXPECT_EQ(take_all(), (Keys{"k"}));
}

TEST_F(KeyDecoding, APrefixLeftLongerThanTheLimitIsDroppedAndTheRestArrivesPlain) {
  feed({27, '[', PAUSE, 'A'});
  EXPECT_EQ(take_all(), (Keys{"A"}));
}

TEST_F(KeyDecoding, QueueKeepsTheLast255Keys) {
  for (int i = 0; i < 256; ++i) key_queue_push_byte(i % 200 + 32);
  std::vector<int32_t> keys;
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
  EXPECT_EQ(read_key_and_report_arrival(), 1);
  EXPECT_EQ(read_key_and_report_arrival(), 0);  // the key is still queued, but nothing new arrived
  EXPECT_EQ(next_key_string(), "q");
  EXPECT_EQ(next_key_string(), "");
}

// The codes the run-time offers: a key they cannot express (Shift+Left,
// Alt+.) is not offered as another; the keypad's keys are the keys they are
// labelled with.
TEST_F(KeyDecoding, KeyStrings) {
  feed({27, 'O', 'A', 0, 27, '[', '1', ';', '2', 'D', 27, '.', 27, '>', 27, 'O', 'm', 27, 'O', 'M', 'z'});
  EXPECT_EQ(next_key_string(), std::string("\xff\x48", 2));
  EXPECT_EQ(next_key_string(), std::string(1, '\0'));
  EXPECT_EQ(next_key_string(), std::string("\xff\x34", 2));  // Alt+>
  EXPECT_EQ(next_key_string(), "-");
  EXPECT_EQ(next_key_string(), "\r");
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
      {overlapping, {27, '[', 'A', 27, '[', 'B', 27, 'O', 'P', 27, '[', '5', '~'}, {"Up", "Down", "F1", "PageUp", "~"}},
      // A sequence for kb is Backspace, and so is a lone 127 (a one-byte entry has no sequence).
      {overlapping, {27, '[', 'Z', 127}, {"Backspace", "Backspace"}},
      // The longer key entered first: its prefix carries no key of its own.
      {{{"kP", "\033[5~"}, {"kN", "\033[5"}}, {27, '[', '5', '~', 27, '[', '5', PAUSE, 'x'}, {"PageUp", "x"}},
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
    const bool line_end = b < 256 && may_end_a_line(static_cast<uint8_t>(b));
    bytes.push_back(line_end ? 'x' : b < 256 ? b : (b < 280 ? 27 : (b < 290 ? GAP : PAUSE)));
  }
  bytes.insert(bytes.end(), {PAUSE, 27, 'O', 'A', 'o', 'k'});
  feed(bytes);
  Keys keys;
  for (int i = 0; i < 40000 && !(key_script::used_up() && key_queue_empty() && !keyboard_has_pending()); ++i) {
    if (const Key key = next_key()) keys.push_back(key_description(key));
  }
  ASSERT_GE(keys.size(), 3u);
  EXPECT_EQ(Keys(keys.end() - 3, keys.end()), (Keys{"Up", "o", "k"}));
}

}  // namespace
