// Key decoding: plain bytes and escape sequences into key codes, through a
// 256-slot queue.
//
// Escape sequences are recognised with a tree built from the terminal entry's
// own key strings (the bytes after the leading ESC), then the usual spellings
// of the cursor and editing keys, so that they work when TERM does not quite
// match the emulator; the entry's strings win where they differ. A mouse
// report is swallowed; an unknown sequence is skipped by its ECMA-48 syntax
// and the keys after it are kept.
#include <termcap.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/term/term.h"
#include "runtime/term/term_state.h"

constinit KeyState key_state{};

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

// The usual spellings of the same keys, as xterm-like emulators and the
// Linux console send them in either cursor-key mode.
constexpr KeySequenceRow kUsualSequences[] = {
    {"\033[A", KEY_UP},    {"\033OA", KEY_UP},    {"\033[B", KEY_DOWN},  {"\033OB", KEY_DOWN},
    {"\033[C", KEY_RIGHT}, {"\033OC", KEY_RIGHT}, {"\033[D", KEY_LEFT},  {"\033OD", KEY_LEFT},
    {"\033[H", KEY_HOME},  {"\033OH", KEY_HOME},  {"\033[1~", KEY_HOME}, {"\033[7~", KEY_HOME},
    {"\033[F", KEY_END},   {"\033OF", KEY_END},   {"\033[4~", KEY_END},  {"\033[8~", KEY_END},
    {"\033[3~", KEY_DELETE},
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

int next_byte() {
  if (key_state.byte_held) {
    key_state.byte_held = false;
    return key_state.held_byte;
  }
  return term_state.key_reader != nullptr ? term_state.key_reader() : -1;
}

// Hands a byte read too far back to the decoder: it begins the next key.
void hold_byte(int byte) {
  key_state.held_byte = static_cast<uint8_t>(byte);
  key_state.byte_held = true;
}

bool csi_final(int b) { return b >= 0x40 && b <= 0x7E; }
bool csi_parameter_or_intermediate(int b) { return b >= 0x20 && b <= 0x3F; }
bool graphic(int b) { return b >= 0x20 && b <= 0x7E; }

// Consumes the rest of an unrecognised sequence by the ECMA-48 syntax, and no
// more, so that keys typed after it are kept. introducer is the byte after
// ESC, last the byte that matched nothing, count the bytes read after ESC.
//   CSI  ESC [ parameters and intermediates, then one final byte
//   SS3  ESC O and one byte
//   ESC and one other byte (Alt+key)
void skip_unrecognised(uint8_t introducer, int last, std::size_t count) {
  if (introducer == '[') {
    int b = count == 1 ? next_byte() : last;
    while (b >= 0 && !csi_final(b)) {
      if (!csi_parameter_or_intermediate(b)) {
        hold_byte(b);  // not part of any sequence: a key typed after a cut-off one
        return;
      }
      b = next_byte();
    }
    return;
  }
  const std::size_t length = introducer == 'O' ? 2 : 1;
  if (count > length) {
    hold_byte(last);  // the tree led past the sequence's end
  } else if (count < length) {
    const int b = next_byte();
    if (b >= 0 && !graphic(b)) hold_byte(b);
  }
}

// After an ESC: the key of the sequence that follows, or -1 for none.
int32_t decode_escape_sequence() {
  int b = next_byte();
  if (b < 0) return KEY_ESCAPE;  // the Escape key by itself
  if (b == KEY_ESCAPE) {
    hold_byte(b);  // Escape pressed twice: each is the Escape key
    return KEY_ESCAPE;
  }
  ensure_tree();
  const auto introducer = static_cast<uint8_t>(b);
  std::size_t count = 1;
  KeyNode* level = key_state.tree;
  for (;;) {
    KeyNode* node = find_in_level(level, static_cast<uint8_t>(b));
    if (node == nullptr) {
      skip_unrecognised(introducer, b, count);
      return -1;
    }
    if (node->key_code == KEY_MOUSE_REPORT) {
      for (int i = 0; i < 3; ++i) next_byte();  // button and position bytes
      return -1;
    }
    if (node->key_code != 0) return node->key_code;
    if (node->first_child == nullptr) {  // a row left out for want of memory
      skip_unrecognised(introducer, b, count);
      return -1;
    }
    b = next_byte();
    if (b < 0) return -1;  // incomplete: what arrived of it is lost
    ++count;
    level = node->first_child;
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
