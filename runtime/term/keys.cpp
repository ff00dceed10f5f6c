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

constexpr int32_t kEscape = 27;

struct KeySequenceRow {
  const char* capability;
  int32_t key_code;
};
constexpr KeySequenceRow kKeySequences[] = {
    {"kb", 8},      {"kT", 9},      {"k1", 0x3BFF}, {"k2", 0x3CFF}, {"k3", 0x3DFF}, {"k4", 0x3EFF},
    {"k5", 0x3FFF}, {"k6", 0x40FF}, {"k7", 0x41FF}, {"k8", 0x42FF}, {"k9", 0x43FF}, {"k;", 0x44FF},
    {"F1", 0x45FF}, {"F2", 0x46FF}, {"kh", 0x47FF}, {"ku", 0x48FF}, {"kP", 0x49FF}, {"kl", 0x4BFF},
    {"kr", 0x4DFF}, {"@7", 0x4FFF}, {"kd", 0x50FF}, {"kN", 0x51FF}, {"kI", 0x52FF}, {"kD", 0x53FF},
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
  if (b < 0) return kEscape;  // the Escape key by itself
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
  if (code == 127) code = 8;
  if (code == 10) code = 13;
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

int32_t read_key(int32_t consume) {
  const int x = next_byte();
  int32_t key = -1;
  if (x == kEscape) {
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
  if (consume != 0) key_state.read_index = (key_state.read_index + 1) % KEY_QUEUE_SIZE;
  return head;
}

bool key_queue_empty() { return key_state.read_index == key_state.write_index; }

int32_t key_available() {
  if (term_state.kind == TERM_KIND_OFF) return std::feof(stdin) ? 0 : 1;
  read_key(0);
  const int32_t arrived = key_state.key_arrived;
  key_state.key_arrived = 0;
  return arrived;
}

std::string next_key_string() {
  if (term_state.kind == TERM_KIND_OFF) return std::string();
  const int32_t key = read_key(1);
  if (key < 0) return std::string();
  if (key <= 255) return std::string(1, static_cast<char>(key));
  return std::string{static_cast<char>(key & 0xFF), static_cast<char>((key >> 8) & 0xFF)};
}
