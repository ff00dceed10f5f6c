// Key decoding fed from a byte script: plain bytes and their mapping, escape
// sequences through the tree, the mouse report, partial and unknown
// sequences, the queue's capacity, and the key-arrived flag.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/term/term.h"
#include "runtime/term/term_state.h"
#include "tests/support/fixtures.h"

namespace {

// The keyboard as a script: -1 entries mean "nothing pending at this moment".
std::vector<int> script;
std::size_t script_at = 0;
int scripted_reader() { return script_at < script.size() ? script[script_at++] : -1; }

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
  ~KeyDecoding() override {
    script.clear();
    script_at = 0;
  }
  static void rebuild() { InventedTerminal::use_keys(entry_lookup); }
  static void feed(std::vector<int> bytes) {
    script = std::move(bytes);
    script_at = 0;
  }
  static std::vector<int32_t> take_all() {
    std::vector<int32_t> keys;
    for (int i = 0; i < 600; ++i) {
      const int32_t key = read_key(KeyRead::Take);
      if (key >= 0) keys.push_back(key);
      if (script_at >= script.size() && key_queue_empty()) break;
    }
    return keys;
  }

 private:
  InventedTerminal terminal_{scripted_reader};
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

TEST_F(KeyDecoding, EscapeAloneIsTheEscapeKey) {
  feed({27, -1, 'x'});
  EXPECT_EQ(take_all(), (Keys{27, 'x'}));
}

TEST_F(KeyDecoding, UnknownSequencesAreSkippedByTheirSyntaxAndTheKeysAfterThemKept) {
  const struct {
    const char* name;
    std::vector<int> bytes;
    Keys keys;
  } cases[] = {
      {"Ctrl+Left", {27, '[', '1', ';', '5', 'D', '3', '4', 13}, {'3', '4', 13}},
      {"Shift+Tab", {27, '[', 'Z', 'x'}, {'x'}},
      {"Alt+x", {27, 'x', 'y'}, {'y'}},
      {"unknown SS3 key", {27, 'O', 'Z', 's'}, {'s'}},
      {"SS3 not in the entry", {27, 'O', 'x'}, {}},
      {"known prefix, unknown end", {27, '[', '9', '9', '~', 'a'}, {'a'}},
      {"SGR mouse report", {27, '[', '<', '0', ';', '1', ';', '2', 'M', 'k'}, {'k'}},
      {"a control byte cuts a sequence", {27, '[', '1', '2', 13, '5'}, {13, '5'}},
      {"Escape twice, then Alt+q", {27, 27, 'q', 'r'}, {27, 'r'}},
      {"Escape then an arrow", {27, 27, 'O', 'A'}, {27, 0x48FF}},
  };
  for (const auto& c : cases) {
    feed(c.bytes);
    EXPECT_EQ(take_all(), c.keys) << c.name;
  }
}

TEST_F(KeyDecoding, UsualSpellingsWorkBesideTheEntrysOwn) {
  // The entry sends application-mode arrows; the emulator may send the others.
  feed({27, '[', 'A', 27, '[', 'D', 27, '[', 'H', 27, '[', '1', '~', 27, '[', '7', '~', 27, '[', 'F',
        27, '[', '4', '~', 27, '[', '8', '~', 27, 'O', 'A', 27, '[', '3', '~'});
  EXPECT_EQ(take_all(), (Keys{0x48FF, 0x4BFF, 0x47FF, 0x47FF, 0x47FF, 0x4FFF, 0x4FFF, 0x4FFF, 0x48FF, 0x53FF}));
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

TEST_F(KeyDecoding, PartialSequenceGivesNoKeyAndTheRestArrivesPlain) {
  feed({27, '[', -1, 'A'});
  EXPECT_EQ(take_all(), (Keys{'A'}));
}

TEST_F(KeyDecoding, SingleByteCapabilityHasNoTreeEntry) {
  EXPECT_FALSE(key_tree_starts_sequence(127));
  EXPECT_TRUE(key_tree_starts_sequence('O'));
  EXPECT_TRUE(key_tree_starts_sequence('['));  // "[3~", "[5~" and the mouse report
  feed({127});
  EXPECT_EQ(take_all(), (Keys{8}));
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
  EXPECT_EQ(key_available(), 1);
  EXPECT_EQ(key_available(), 0);  // the key is still queued, but nothing new arrived
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
  term_state.kind = TERM_KIND_OFF;
  feed({'a'});
  EXPECT_EQ(next_key_string(), "");
  EXPECT_EQ(script_at, 0u);
}

TEST_F(KeyDecoding, TreeInsertionOrderAndFirstRowWins) {
  // ku and kd share the prefix; kP is a prefix of a later kN; F1 repeats k1.
  entry = {{"kb", "\033[Z"}, {"ku", "\033[A"}, {"kd", "\033[B"}, {"kP", "\033[5"},
           {"kN", "\033[5~"}, {"k1", "\033OP"},  {"F1", "\033OP"}};
  rebuild();
  // Top level: new nodes go in front, so "O" (from k1) comes before "[".
  ASSERT_NE(key_state.tree, nullptr);
  EXPECT_EQ(key_state.tree->byte, 'O');
  ASSERT_NE(key_state.tree->next_sibling, nullptr);
  EXPECT_EQ(key_state.tree->next_sibling->byte, '[');
  // Below "[", newest first: the usual spellings the entry lacks, then M (mouse),
  // B (kd, row 21), 5 (kP, row 17), A (ku, row 16), Z (kb, row 1).
  std::string level;
  for (KeyNode* n = key_state.tree->next_sibling->first_child; n != nullptr; n = n->next_sibling)
    level.push_back(static_cast<char>(n->byte));
  EXPECT_EQ(level, "384F71HDCMB5AZ");
  feed({27, 'O', 'P', 27, '[', '5', '~'});
  // F1 kept k1's code; "[5" decodes at the first node with a key, leaving "~" plain.
  EXPECT_EQ(take_all(), (Keys{0x3BFF, 0x49FF, '~'}));
  feed({27, '[', 'Z'});
  EXPECT_EQ(take_all(), (Keys{8}));  // a multi-byte "kb" is backspace
}

TEST_F(KeyDecoding, LongerSequenceInsertedFirstKeepsItsPrefixUnclaimed) {
  entry = {{"kP", "\033[5~"}, {"kN", "\033[5"}};
  rebuild();
  feed({27, '[', '5', '~'});
  EXPECT_EQ(take_all(), (Keys{0x49FF}));
  feed({27, '[', '5', -1, 'x'});
  EXPECT_EQ(take_all(), (Keys{'x'}));  // "[5" carries no key of its own
}

TEST_F(KeyDecoding, ArbitraryBytesKeepTheQueueConsistent) {
  std::vector<int> bytes;
  uint32_t seed = 12345;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 1103515245 + 12345;
    const int b = static_cast<int>((seed >> 16) % 300);
    bytes.push_back(b < 256 ? b : (b < 280 ? 27 : -1));
  }
  feed(bytes);
  for (int i = 0; i < 30000 && script_at < script.size(); ++i) {
    read_key(i % 3 == 0 ? KeyRead::Peek : KeyRead::Take);
    ASSERT_GE(key_state.read_index, 0);
    ASSERT_LT(key_state.read_index, KEY_QUEUE_SIZE);
    ASSERT_GE(key_state.write_index, 0);
    ASSERT_LT(key_state.write_index, KEY_QUEUE_SIZE);
  }
}

}  // namespace
