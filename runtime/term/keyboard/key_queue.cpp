// SPDX-License-Identifier: MIT
// Keys: what they are called and the codes the run-time offers for them; the
// escape-sequence tree of the terminal entry's own key strings (the bytes
// after the leading ESC), which the decoder reads before the sequences every
// terminal sends (so the entry's strings win where they differ); and the
// 256-slot queue that decoded keys wait in. Replies met on the way go to the
// report queries: a reply is never a key.
#include <termcap.h>
#include <termios.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "runtime/stream/stream.h"
#include "runtime/term/keyboard/keyboard.h"
#include "runtime/term/term_internal.h"

KeyQueue term_key_queue;
KeySequenceTree term_key_tree;

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

// Alt with a letter, by the PC scan codes of the letter rows.
constexpr const char* kLetterRows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
constexpr int32_t kLetterRowScanCodes[] = {0x10, 0x1E, 0x2C};

// The named keys that have a code of their own, with it.
constexpr struct {
  KeyName name;
  int32_t code;
} kNamedCodes[] = {
    {KeyName::Enter, KEY_ENTER},     {KeyName::Tab, KEY_TAB},         {KeyName::Backspace, KEY_BACKSPACE},
    {KeyName::Escape, KEY_ESCAPE},   {KeyName::F1, KEY_F1},           {KeyName::F2, KEY_F2},
    {KeyName::F3, KEY_F3},           {KeyName::F4, KEY_F4},           {KeyName::F5, KEY_F5},
    {KeyName::F6, KEY_F6},           {KeyName::F7, KEY_F7},           {KeyName::F8, KEY_F8},
    {KeyName::F9, KEY_F9},           {KeyName::F10, KEY_F10},         {KeyName::F11, KEY_F11},
    {KeyName::F12, KEY_F12},         {KeyName::Home, KEY_HOME},       {KeyName::Up, KEY_UP},
    {KeyName::PageUp, KEY_PAGE_UP},  {KeyName::Left, KEY_LEFT},       {KeyName::Right, KEY_RIGHT},
    {KeyName::End, KEY_END},         {KeyName::Down, KEY_DOWN},       {KeyName::PageDown, KEY_PAGE_DOWN},
    {KeyName::Insert, KEY_INSERT},   {KeyName::Delete, KEY_DELETE},   {KeyName::EscapeTakenBack, KEY_ESCAPE_UNDONE},
};

constexpr const char* kNames[] = {
    "",     "",     "",     "Enter", "Tab",  "Backspace", "Escape", "Up",  "Down", "Left", "Right",
    "Home", "End",  "Insert", "Delete", "PageUp", "PageDown", "Begin", "F1", "F2",   "F3",   "F4",
    "F5",   "F6",   "F7",   "F8",    "F9",   "F10",       "F11",    "F12", "PasteStart", "PasteEnd", "EscapeTakenBack",
};
static_assert(std::size(kNames) == static_cast<std::size_t>(KeyName::EscapeTakenBack) + 1);

// The code of Alt with a key: a letter by its key's scan code (with Shift
// too, as readline takes it), a digit, "-", "\\", "<", ">", Backspace, Left
// and Right; -1 for the others.
int32_t alt_key_code(const Key& key) {
  if (key.name == KeyName::Left) return KEY_ALT_LEFT;
  if (key.name == KeyName::Right) return KEY_ALT_RIGHT;
  if (key.name == KeyName::Backspace) return KEY_ALT_BACKSPACE;
  if (key.name != KeyName::Byte) return -1;
  uint32_t c = key.code;
  if (c >= '1' && c <= '9') return KEY_ALT_1 + static_cast<int32_t>(c - '1') * 256;
  if (c == '0') return KEY_ALT_0;
  if (c == '-') return KEY_ALT_MINUS;
  if (c == '\\') return extended_key(0x2B);
  if (c == '<') return extended_key(0x33);
  if (c == '>') return extended_key(0x34);
  if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
  for (int row = 0; row < 3; ++row) {
    if (const char* at = c > 0 && c < 128 ? std::strchr(kLetterRows[row], static_cast<int>(c)) : nullptr)
      return extended_key(kLetterRowScanCodes[row] + static_cast<int32_t>(at - kLetterRows[row]));
  }
  return -1;
}

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


// Takes the oldest key off the queue.
void drop_head() {
  if (ends_a_line(term_key_queue.slots[term_key_queue.read_index])) --term_key_queue.line_ends;
  term_key_queue.read_index = (term_key_queue.read_index + 1) % KEY_QUEUE_SIZE;
}

void push_key(const Key& key) {
  term_key_queue.slots[term_key_queue.write_index] = key;
  if (ends_a_line(key)) ++term_key_queue.line_ends;
  const int32_t next = (term_key_queue.write_index + 1) % KEY_QUEUE_SIZE;
  if (next == term_key_queue.read_index) {  // drop the oldest
    term_key_queue.read_index = next;
    drop_head();
  }
  term_key_queue.write_index = next;
  term_key_queue.key_arrived = 1;
}

// Decodes what has arrived, up to one key, into the queue: replies met on
// the way go to the report queries, ignored sequences are dropped, and a
// sequence still arriving stays for a later call.
void read_one_key() {
  keyboard_fill();
  for (KeyEvent event; (event = keyboard_next_event()).kind != KeyEvent::Kind::None;) {
    if (event.kind == KeyEvent::Kind::Key) {
      if (keyboard_raise_signal_for(event.key)) continue;
      TermLock lock;
      push_key(event.key);
      return;
    }
  }
}

Key take_head() {
  const Key head = term_key_queue.slots[term_key_queue.read_index];
  drop_head();
  return head;
}

}  // namespace

bool key_is_text(const Key& key) {
  if ((key.modifiers & (KEY_CTRL | KEY_ALT)) != 0) return false;
  if (key.name == KeyName::Character) return true;
  return key.name == KeyName::Byte && key.code >= 32 && key.code != 127;
}

std::string key_description(const Key& key) {
  std::string text;
  if (key.modifiers & KEY_CTRL) text += "Ctrl+";
  if (key.modifiers & KEY_ALT) text += "Alt+";
  if (key.modifiers & KEY_SHIFT) text += "Shift+";
  if (key.keypad) text += "KP ";
  if (key.pasted) text += "pasted ";
  if (key.name == KeyName::Byte && key.code < 32) return text + "Ctrl+" + static_cast<char>('@' + key.code);
  if (key.name == KeyName::Byte && key.code < 128) return text + static_cast<char>(key.code);
  if (key.name == KeyName::Byte || key.name == KeyName::Character) {
    char hex[16];
    std::snprintf(hex, sizeof hex, key.name == KeyName::Byte ? "\\x%02X" : "U+%04X", key.code);
    return text + hex;
  }
  return key.name == KeyName::None ? "none" : text + kNames[static_cast<std::size_t>(key.name)];
}

int32_t key_code(const Key& key) {
  if (key.pasted) return static_cast<int32_t>(key.code == 127 ? 8 : key.code == '\n' ? '\r' : key.code);
  if (key.modifiers == KEY_ALT) return alt_key_code(Key{key.name, 0, false, false, key.code});
  if (key.modifiers == KEY_CTRL && key.name == KeyName::Left) return KEY_CTRL_LEFT;
  if (key.modifiers == KEY_CTRL && key.name == KeyName::Right) return KEY_CTRL_RIGHT;
  if (key.modifiers != 0) return -1;
  if (key.name == KeyName::Byte) return static_cast<int32_t>(key.code);
  for (const auto& named : kNamedCodes) {
    if (named.name == key.name) return named.code;
  }
  return -1;
}

Key key_of_code(int32_t code) {
  if (code >= 0 && code <= 255) return byte_key(static_cast<uint8_t>(code));
  for (const auto& named : kNamedCodes) {
    if (named.code == code) return named_key(named.name);
  }
  if (code == KEY_CTRL_LEFT) return named_key(KeyName::Left, KEY_CTRL);
  if (code == KEY_CTRL_RIGHT) return named_key(KeyName::Right, KEY_CTRL);
  for (const KeyName name : {KeyName::Left, KeyName::Right, KeyName::Backspace}) {
    if (alt_key_code(named_key(name)) == code) return named_key(name, KEY_ALT);
  }
  for (uint8_t byte = ' '; byte < 127; ++byte) {
    if ((byte < 'A' || byte > 'Z') && alt_key_code(text_key(static_cast<char>(byte))) == code) return byte_key(byte, KEY_ALT);
  }
  return Key{};
}

void key_tree_build(CapabilityLookup lookup) {
  term_key_tree.built = true;
  auto insert = [](const char* sequence, int32_t key_code) {
    if (sequence == nullptr || sequence[0] == '\0') return;
    const auto* bytes = reinterpret_cast<const uint8_t*>(sequence) + 1;  // after the ESC
    insert_sequence(bytes, std::strlen(sequence) - 1, key_code);
  };
  for (const KeySequenceRow& row : kKeySequences) insert(lookup(row.capability), row.key_code);
  const uint8_t mouse[] = {'[', 'M'};
  insert_sequence(mouse, 2, KEY_MOUSE_REPORT);
}

const KeyNode* key_tree() {
  if (!term_key_tree.built) key_tree_build(termcap_lookup);
  return term_key_tree.root;
}

void key_tree_release() {
  release_level(term_key_tree.root);
  term_key_tree = KeySequenceTree{};
}

void key_queue_push_byte(int32_t byte) { push_key(byte_key(static_cast<uint8_t>(byte))); }

// The oldest queued key with a code (one more read in first); keys without
// one are passed over, taken.
int32_t read_key(KeyRead read) {
  for (;;) {
    read_one_key();
    if (key_queue_empty()) return -1;
    const int32_t head = key_code(term_key_queue.slots[term_key_queue.read_index]);
    if (head >= 0) {
      if (read == KeyRead::Take) drop_head();
      return head;
    }
    drop_head();
  }
}

bool key_queue_empty() { return term_key_queue.read_index == term_key_queue.write_index; }

int32_t read_key_and_report_arrival() {
  if (!handling_active()) return stream_input_ended() ? 0 : 1;
  read_one_key();
  const int32_t arrived = term_key_queue.key_arrived;
  term_key_queue.key_arrived = 0;
  return arrived;
}

Key next_key() {
  if (!handling_active()) return Key{};
  read_one_key();
  return key_queue_empty() ? Key{} : take_head();
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

bool keyboard_raise_signal_for(const Key& key) {
  const termios& modes = term.modes.working_input_modes;
  if ((modes.c_lflag & ISIG) == 0 || key.name != KeyName::Byte || key.modifiers != 0 || key.pasted) return false;
  int signal = 0;
  if (key.code == modes.c_cc[VINTR]) signal = SIGINT;
  if (key.code == modes.c_cc[VQUIT]) signal = SIGQUIT;
  if (key.code == modes.c_cc[VSUSP]) signal = SIGTSTP;
  if (signal == 0 || key.code == _POSIX_VDISABLE) return false;
  raise(signal);  // its handler restores the terminal, as for the byte the kernel would have seen
  return true;
}
