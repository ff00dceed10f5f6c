// Key decoding: plain bytes and escape sequences into key codes, through a
// 256-slot queue.
//
// Escape sequences are recognised with a tree built from the terminal entry's
// own key strings (the bytes after the leading ESC), so whatever the entry
// lists is understood. A mouse report is swallowed; an unknown sequence is
// drained with everything pending behind it.
#include <termcap.h>

#include <cstdio>
#include <cstdlib>

#include "runtime/term/term.h"
#include "runtime/term/term_state.h"

constinit KeyState key_state{};

namespace {

struct KeySequenceRow {
  const char* capability;
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

const char* termcap_lookup(const char* id) { return tgetstr(id, nullptr); }

KeyNode* find_in_level(KeyNode* level, uint8_t byte) {
  for (KeyNode* node = level; node != nullptr; node = node->next_sibling) {
    if (node->byte == byte) return node;
  }
  return nullptr;
}

// Inserts a sequence; an earlier row with the same sequence, or a longer one
// beginning with it, keeps its key. New nodes go in front of their level.
void insert_sequence(const uint8_t* bytes, std::size_t length, int32_t key_code) {
  KeyNode** level = &key_state.tree;
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
      if (created) node->key_code = static_cast<int16_t>(key_code);
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

void ensure_tree() {
  if (!key_state.tree_built) key_tree_build(termcap_lookup);
}

int next_byte() { return term_state.key_reader != nullptr ? term_state.key_reader() : -1; }

// Throws away everything pending on the keyboard.
void drain() {
  while (next_byte() >= 0) {
  }
}

// After an ESC: the key of the sequence that follows, or -1 for none.
int32_t decode_escape_sequence() {
  int b = next_byte();
  if (b < 0) return KEY_ESCAPE;  // the Escape key by itself
  ensure_tree();
  KeyNode* level = key_state.tree;
  for (;;) {
    KeyNode* node = find_in_level(level, static_cast<uint8_t>(b));
    if (node == nullptr) {
      drain();
      return -1;
    }
    if (node->key_code == KEY_MOUSE_REPORT) {
      for (int i = 0; i < 3; ++i) next_byte();  // button and position bytes
      return -1;
    }
    if (node->key_code != 0) return node->key_code;
    b = next_byte();
    if (b < 0) return -1;  // incomplete: what arrived of it is lost
    level = node->first_child;
    if (level == nullptr) {
      drain();
      return -1;
    }
  }
}

void push_key(int32_t code) {
  if (code == 127) code = KEY_BACKSPACE;
  if (code == KEY_LINE_FEED) code = KEY_ENTER;
  key_state.slots[key_state.write_index] = code;
  const int32_t next = (key_state.write_index + 1) % KEY_QUEUE_SIZE;
  if (next == key_state.read_index) key_state.read_index = (next + 1) % KEY_QUEUE_SIZE;  // drop the oldest
  key_state.write_index = next;
  key_state.key_arrived = 1;
}

}  // namespace

void key_tree_build(CapabilityLookup lookup) {
  key_state.tree_built = true;
  for (const KeySequenceRow& row : kKeySequences) {
    const char* sequence = lookup(row.capability);
    if (sequence == nullptr || sequence[0] == '\0') continue;
    const auto* bytes = reinterpret_cast<const uint8_t*>(sequence) + 1;  // after the ESC
    std::size_t length = 0;
    while (bytes[length] != '\0') ++length;
    insert_sequence(bytes, length, row.key_code);
  }
  const uint8_t mouse[] = {'[', 'M'};
  insert_sequence(mouse, 2, KEY_MOUSE_REPORT);
}

void key_tree_release() {
  release_level(key_state.tree);
  key_state.tree = nullptr;
  key_state.tree_built = false;
}

bool key_tree_starts_sequence(uint8_t byte) {
  ensure_tree();
  return find_in_level(key_state.tree, byte) != nullptr;
}

void key_queue_push_byte(int32_t byte) { push_key(byte); }

int32_t read_key(KeyRead read) {
  const int x = next_byte();
  int32_t key = -1;
  if (x == KEY_ESCAPE) {
    key = decode_escape_sequence();
  } else if (x >= 0) {
    key = x;
  }
  if (key >= 0) {
    TermLock lock;
    push_key(key);
  }
  if (key_state.read_index == key_state.write_index) return x < 0 ? x : -1;
  const int32_t head = key_state.slots[key_state.read_index];
  if (read == KeyRead::Take) key_state.read_index = (key_state.read_index + 1) % KEY_QUEUE_SIZE;
  return head;
}

bool key_queue_empty() { return key_state.read_index == key_state.write_index; }

int32_t key_available() {
  if (term_state.kind == TERM_KIND_OFF) return term_input_ended() ? 0 : 1;
  read_key(KeyRead::Peek);
  const int32_t arrived = key_state.key_arrived;
  key_state.key_arrived = 0;
  return arrived;
}

std::string next_key_string() {
  if (term_state.kind == TERM_KIND_OFF) return std::string();
  const int32_t key = read_key(KeyRead::Take);
  if (key < 0) return std::string();
  if (key <= 255) return std::string(1, static_cast<char>(key));
  return std::string{static_cast<char>(key & 0xFF), static_cast<char>((key >> 8) & 0xFF)};
}

int32_t key_code_of(const std::string& key) {
  if (key.size() == 2) return static_cast<uint8_t>(key[1]) * 256 + 255;  // the first byte is always 255
  return key.empty() ? -1 : static_cast<uint8_t>(key[0]);
}
