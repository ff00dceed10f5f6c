// SPDX-License-Identifier: MIT
// Keys: the escape-sequence tree the decoder reads sequences with, built from
// the terminal entry's own key strings (the bytes after the leading ESC),
// then the usual spellings, so that keys work when TERM does not quite match
// the emulator (the entry's strings win where they differ); and the 256-slot
// queue that decoded keys wait in. Replies met on the way go to the report
// queries: a reply is never a key.
#include <termcap.h>

#include <cstdlib>
#include <cstring>

#include "runtime/stream/stream.h"
#include "runtime/term/keyboard.h"
#include "runtime/term/reports.h"
#include "runtime/term/term_internal.h"

KeyQueue term_key_queue;
KeySequenceTree term_key_tree;

namespace {

struct KeySequenceRow {
  const char* sequence;  // a capability name, or the sequence itself for the usual spellings
  int32_t key_code;
};
// The entry's key strings, in the order their sequences enter the tree.
constexpr KeySequenceRow kKeySequences[] = {
    {"kb", KEY_BACKSPACE}, {"kT", KEY_TAB},    {"k1", KEY_F1},     {"k2", KEY_F2},        {"k3", KEY_F3},
    {"k4", KEY_F4},        {"k5", KEY_F5},     {"k6", KEY_F6},     {"k7", KEY_F7},        {"k8", KEY_F8},
    {"k9", KEY_F9},        {"k;", KEY_F10},    {"F1", KEY_F11},    {"F2", KEY_F12},       {"kh", KEY_HOME},
    {"ku", KEY_UP},        {"kP", KEY_PAGE_UP}, {"kl", KEY_LEFT},  {"kr", KEY_RIGHT},     {"@7", KEY_END},
    {"kd", KEY_DOWN},      {"kN", KEY_PAGE_DOWN}, {"kI", KEY_INSERT}, {"kD", KEY_DELETE},
};

// The usual spellings of the same keys, as xterm-like emulators, rxvt and the
// Linux console send them in either cursor-key mode, and of the word keys.
constexpr KeySequenceRow kUsualSequences[] = {
    {"\033[A", KEY_UP},    {"\033OA", KEY_UP},    {"\033[B", KEY_DOWN},  {"\033OB", KEY_DOWN},
    {"\033[C", KEY_RIGHT}, {"\033OC", KEY_RIGHT}, {"\033[D", KEY_LEFT},  {"\033OD", KEY_LEFT},
    {"\033[H", KEY_HOME},  {"\033OH", KEY_HOME},  {"\033[1~", KEY_HOME}, {"\033[7~", KEY_HOME},
    {"\033[F", KEY_END},   {"\033OF", KEY_END},   {"\033[4~", KEY_END},  {"\033[8~", KEY_END},
    {"\033[3~", KEY_DELETE},
    // The Linux console's F1 to F5.
    {"\033[[A", KEY_F1},   {"\033[[B", KEY_F2},   {"\033[[C", KEY_F3},   {"\033[[D", KEY_F4},  {"\033[[E", KEY_F5},
    // Ctrl and Alt with the arrows: xterm's modifier parameter (5 Ctrl, 3
    // Alt), and rxvt's Ctrl spellings.
    {"\033[1;5D", KEY_CTRL_LEFT}, {"\033[1;5C", KEY_CTRL_RIGHT}, {"\033[5D", KEY_CTRL_LEFT},
    {"\033[5C", KEY_CTRL_RIGHT},  {"\033Od", KEY_CTRL_LEFT},     {"\033Oc", KEY_CTRL_RIGHT},
    {"\033[1;3D", KEY_ALT_LEFT},  {"\033[1;3C", KEY_ALT_RIGHT},
};

// Alt with a letter, by the PC scan codes of the letter rows.
constexpr const char* kLetterRows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
constexpr int32_t kLetterRowScanCodes[] = {0x10, 0x1E, 0x2C};

const char* termcap_lookup(const char* id) { return tgetstr(id, nullptr); }

// Inserts a sequence; an earlier row with the same sequence, or a longer one
// beginning with it, keeps its key. New nodes go in front of their level.
void insert_sequence(const uint8_t* bytes, std::size_t length, int32_t key_code) {
  KeyNode** level = &term_key_tree.root;
  for (std::size_t i = 0; i < length; ++i) {
    KeyNode* node = find_in_level(*level, bytes[i]);
    const bool created = node == nullptr;
    if (created) {
      node = static_cast<KeyNode*>(std::calloc(1, sizeof(KeyNode)));
      if (node == nullptr) return;  // out of memory: the row is left out, the tree stays whole
      node->byte = bytes[i];
      node->next_sibling = *level;
      *level = node;
    }
    if (i + 1 == length) {
      if (created) node->key_code = static_cast<uint16_t>(key_code);
      return;
    }
    level = &node->first_child;
  }
}

void release_level(KeyNode* node) {
  while (node != nullptr) {
    KeyNode* next = node->next_sibling;
    release_level(node->first_child);
    std::free(node);
    node = next;
  }
}


bool ends_a_line(int32_t code) { return code == KEY_ENTER || code == 4; }

// Takes the oldest key off the queue.
void drop_head() {
  if (ends_a_line(term_key_queue.slots[term_key_queue.read_index])) --term_key_queue.line_ends;
  term_key_queue.read_index = (term_key_queue.read_index + 1) % KEY_QUEUE_SIZE;
}

void push_key(int32_t code) {
  if (code == 127) code = KEY_BACKSPACE;
  if (code == '\n') code = KEY_ENTER;
  term_key_queue.slots[term_key_queue.write_index] = code;
  if (ends_a_line(code)) ++term_key_queue.line_ends;
  const int32_t next = (term_key_queue.write_index + 1) % KEY_QUEUE_SIZE;
  if (next == term_key_queue.read_index) {  // drop the oldest
    term_key_queue.read_index = next;
    drop_head();
  }
  term_key_queue.write_index = next;
  term_key_queue.key_arrived = 1;
}

}  // namespace

int32_t alt_key(int32_t code) {
  if (code == KEY_LEFT) return KEY_ALT_LEFT;
  if (code == KEY_RIGHT) return KEY_ALT_RIGHT;
  if (code == KEY_BACKSPACE || code == 127) return KEY_ALT_BACKSPACE;
  if (code >= '1' && code <= '9') return KEY_ALT_1 + (code - '1') * 256;
  if (code == '0') return KEY_ALT_0;
  if (code == '-') return KEY_ALT_MINUS;
  if (code == '\\') return KEY_ALT_BACKSLASH;
  if (code == '<') return KEY_ALT_LESS;
  if (code == '>') return KEY_ALT_GREATER;
  if (code >= 'A' && code <= 'Z') code += 'a' - 'A';  // Alt+Shift+letter is Alt+letter, as in readline
  for (int row = 0; row < 3; ++row) {
    if (const char* at = code > 0 && code < 128 ? std::strchr(kLetterRows[row], code) : nullptr)
      return extended_key(kLetterRowScanCodes[row] + static_cast<int32_t>(at - kLetterRows[row]));
  }
  return -1;
}

int32_t key_under_alt(int32_t alt) {
  if (alt == KEY_ALT_BACKSPACE) return KEY_BACKSPACE;
  for (int32_t key = ' '; key < 127; ++key) {
    if ((key < 'A' || key > 'Z') && alt_key(key) == alt) return key;
  }
  return -1;
}

void key_tree_build(CapabilityLookup lookup) {
  term_key_tree.built = true;
  auto insert = [](const char* sequence, int32_t key_code) {
    if (sequence == nullptr || sequence[0] == '\0') return;
    const auto* bytes = reinterpret_cast<const uint8_t*>(sequence) + 1;  // after the ESC
    insert_sequence(bytes, std::strlen(sequence) - 1, key_code);
  };
  for (const KeySequenceRow& row : kKeySequences) insert(lookup(row.sequence), row.key_code);
  const uint8_t mouse[] = {'[', 'M'};
  insert_sequence(mouse, 2, KEY_MOUSE_REPORT);
  for (const KeySequenceRow& row : kUsualSequences) insert(row.sequence, row.key_code);
}

const KeyNode* key_tree() {
  if (!term_key_tree.built) key_tree_build(termcap_lookup);
  return term_key_tree.root;
}

void key_tree_release() {
  release_level(term_key_tree.root);
  term_key_tree = KeySequenceTree{};
}

void key_queue_push_byte(int32_t byte) { push_key(byte); }

// Decodes what has arrived, up to one key: replies met on the way go to the
// report queries, ignored sequences are dropped, and a sequence still
// arriving stays for a later call.
int32_t read_key(KeyRead read) {
  keyboard_fill();
  int32_t code = -1;
  for (KeyEvent event; (event = keyboard_next_event()).kind != KeyEvent::Kind::None;) {
    if (event.kind == KeyEvent::Kind::Key) {
      code = event.key;
      break;
    }
  }
  if (code >= 0) {
    TermLock lock;
    push_key(code);
  }
  if (term_key_queue.read_index == term_key_queue.write_index) return -1;
  const int32_t head = term_key_queue.slots[term_key_queue.read_index];
  if (read == KeyRead::Take) drop_head();
  return head;
}

bool key_queue_empty() { return term_key_queue.read_index == term_key_queue.write_index; }

int32_t key_arrived_since_asked() {
  if (!handling_active()) return stream_input_ended() ? 0 : 1;
  read_key(KeyRead::Peek);
  const int32_t arrived = term_key_queue.key_arrived;
  term_key_queue.key_arrived = 0;
  return arrived;
}

std::string next_key_string() {
  if (!handling_active()) return std::string();
  const int32_t key = read_key(KeyRead::Take);
  if (key < 0) return std::string();
  if (key <= 255) return std::string(1, static_cast<char>(key));
  return std::string{static_cast<char>(key & 0xFF), static_cast<char>((key >> 8) & 0xFF)};
}

int32_t key_code_of(const std::string& key) {
  if (key.size() == 2) return static_cast<uint8_t>(key[1]) * 256 + 255;  // the first byte is always 255
  return key.empty() ? -1 : static_cast<uint8_t>(key[0]);
}
