// SPDX-License-Identifier: MIT
// Key decoding: the bytes the terminal sends, assembled into keys however
// they were split across reads, through a 256-slot queue.
//
// A key is a plain byte or an escape sequence. Sequences are recognised with
// a tree built from the terminal entry's own key strings (the bytes after the
// leading ESC), then the usual spellings, so that keys work when TERM does not
// quite match the emulator; the entry's strings win where they differ. Any
// other sequence is skipped by its ECMA-48 syntax and the keys after it are
// kept: CSI runs to its final byte, SS3 takes one byte, and ESC with any other
// byte is that byte with Alt. ESC before a whole sequence is that key with
// Alt (urxvt and macOS terminals send Alt+Left as ESC ESC [ D). A mouse
// report is swallowed. Cursor and size reports are recognised here too,
// wherever they arrive, and handed to the report queries: a reply is never a
// key.
#include <termcap.h>

#include <cstdlib>
#include <cstring>

#include "runtime/term/term.h"
#include "runtime/term/term_internal.h"
#include "runtime/stream/stream.h"

namespace {

constexpr uint8_t ESC = 27;

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

KeyNode* find_in_level(KeyNode* level, uint8_t byte) {
  for (KeyNode* node = level; node != nullptr; node = node->next_sibling) {
    if (node->byte == byte) return node;
  }
  return nullptr;
}

// Inserts a sequence; an earlier row with the same sequence, or a longer one
// beginning with it, keeps its key. New nodes go in front of their level.
void insert_sequence(const uint8_t* bytes, std::size_t length, int32_t key_code) {
  KeyNode** level = &term.keys.tree;
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

void ensure_tree() {
  if (!term.keys.tree_built) key_tree_build(termcap_lookup);
}

DecodedUnit ignored(std::size_t length) { return {Unit::Ignored, -1, 0, 0, length}; }
// A key, or nothing for a code of -1 (an Alt combination without a key).
DecodedUnit key(int32_t code, std::size_t length) {
  return code >= 0 ? DecodedUnit{Unit::Key, code, 0, 0, length} : ignored(length);
}
constexpr DecodedUnit kIncomplete{Unit::Incomplete, -1, 0, 0, 0};

bool graphic(uint8_t b) { return b >= 0x20 && b <= 0x7E; }

// Reads "n;m" (or "8;n;m" for the size report) from the parameters of a CSI sequence.
bool parse_numbers(const uint8_t* p, const uint8_t* end, int32_t* values, int count) {
  for (int i = 0; i < count; ++i) {
    if (p == end || *p < '0' || *p > '9') return false;
    int64_t n = 0;
    while (p < end && *p >= '0' && *p <= '9') n = std::min<int64_t>(n * 10 + (*p++ - '0'), 1 << 24);
    values[i] = static_cast<int32_t>(n);
    if (i + 1 < count && (p == end || *p++ != ';')) return false;
  }
  return p == end;
}

// A whole CSI sequence of the given length that is a cursor report
// (ESC [ row ; column R) or a size report (ESC [ 8 ; rows ; columns t).
DecodedUnit report_in(const uint8_t* bytes, std::size_t length) {
  const uint8_t* parameters = bytes + 2;
  const uint8_t* end = bytes + length - 1;
  int32_t values[3] = {0, 0, 0};
  if (bytes[length - 1] == 'R' && parse_numbers(parameters, end, values, 2))
    return {Unit::CursorReport, -1, values[0], values[1], length};
  if (bytes[length - 1] == 't' && parse_numbers(parameters, end, values, 3) && values[0] == 8)
    return {Unit::SizeReport, -1, values[1], values[2], length};
  return ignored(length);
}

// The extent of a CSI sequence: its length when whole, 0 while it may go on,
// or the length before a byte that cannot belong to it (cut off: that byte
// begins the next key).
struct Extent {
  std::size_t length;
  bool whole;
};
Extent csi_extent(const uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 2; i < count; ++i) {
    if (csi_final(bytes[i])) return {i + 1, true};
    if (!csi_parameter_or_intermediate(bytes[i])) return {i, false};
  }
  return {0, false};
}

// An unrecognised sequence after ESC, skipped by its ECMA-48 syntax.
DecodedUnit skip_by_syntax(const uint8_t* bytes, std::size_t count, bool complete) {
  if (bytes[1] == '[') {
    const Extent extent = csi_extent(bytes, count);
    if (extent.length == 0) return complete ? ignored(count) : kIncomplete;
    return extent.whole ? report_in(bytes, extent.length) : ignored(extent.length);
  }
  if (bytes[1] == 'O') {
    if (count < 3) return complete ? ignored(count) : kIncomplete;
    return ignored(graphic(bytes[2]) ? 3 : 2);
  }
  return key(alt_key(bytes[1]), 2);  // ESC and one byte: Alt with it
}

// A sequence after ESC: the tree first, then the syntax. Cursor and size
// reports come before the tree, so that no key string can hide one.
DecodedUnit decode_sequence(const uint8_t* bytes, std::size_t count, bool complete) {
  if (bytes[1] == '[') {
    const Extent extent = csi_extent(bytes, count);
    if (extent.whole) {
      const DecodedUnit report = report_in(bytes, extent.length);
      if (report.kind != Unit::Ignored) return report;
    }
  }
  ensure_tree();
  KeyNode* level = term.keys.tree;
  for (std::size_t i = 1;; ++i) {
    if (i == count) return complete ? skip_by_syntax(bytes, count, true) : kIncomplete;
    KeyNode* node = find_in_level(level, bytes[i]);
    if (node == nullptr) return skip_by_syntax(bytes, count, complete);
    if (node->key_code == KEY_MOUSE_REPORT) {  // button and position bytes follow
      if (count >= i + 4) return ignored(i + 4);
      return complete ? ignored(count) : kIncomplete;
    }
    // Decoding stops at the first node with a key, even where longer sequences go on.
    if (node->key_code != 0) return key(node->key_code, i + 1);
    if (node->first_child == nullptr) return skip_by_syntax(bytes, count, complete);  // a row left out
    level = node->first_child;
  }
}

void push_key(int32_t code) {
  if (code == 127) code = KEY_BACKSPACE;
  if (code == KEY_LINE_FEED) code = KEY_ENTER;
  term.keys.slots[term.keys.write_index] = code;
  const int32_t next = (term.keys.write_index + 1) % KEY_QUEUE_SIZE;
  if (next == term.keys.read_index) term.keys.read_index = (next + 1) % KEY_QUEUE_SIZE;  // drop the oldest
  term.keys.write_index = next;
  term.keys.key_arrived = 1;
}

}  // namespace

int32_t alt_key(int32_t code) {
  if (code == KEY_LEFT) return KEY_ALT_LEFT;
  if (code == KEY_RIGHT) return KEY_ALT_RIGHT;
  if (code == KEY_BACKSPACE || code == 127) return KEY_ALT_BACKSPACE;
  if (code >= 'A' && code <= 'Z') code += 'a' - 'A';  // Alt+Shift+letter is Alt+letter, as in readline
  for (int row = 0; row < 3; ++row) {
    if (const char* at = code > 0 && code < 128 ? std::strchr(kLetterRows[row], code) : nullptr)
      return extended_key(kLetterRowScanCodes[row] + static_cast<int32_t>(at - kLetterRows[row]));
  }
  return -1;
}

DecodedUnit decode_unit(const uint8_t* bytes, std::size_t count, bool complete) {
  if (count == 0) return kIncomplete;
  if (bytes[0] != ESC) return key(bytes[0], 1);
  if (count == 1) return complete ? key(KEY_ESCAPE, 1) : kIncomplete;
  if (bytes[1] == ESC) {
    // ESC before a whole sequence: that key with Alt. Otherwise the first ESC
    // is the Escape key by itself, and the second begins what follows.
    if (count == 2) return complete ? key(KEY_ESCAPE, 1) : kIncomplete;
    if (bytes[2] != '[' && bytes[2] != 'O') return key(KEY_ESCAPE, 1);
    const DecodedUnit inner = decode_sequence(bytes + 1, count - 1, complete);
    if (inner.kind == Unit::Incomplete) return inner;
    if (inner.kind == Unit::Key) return key(alt_key(inner.key), inner.length + 1);
    if (inner.kind == Unit::Ignored) return ignored(inner.length + 1);
    return key(KEY_ESCAPE, 1);  // Escape, then a reply
  }
  return decode_sequence(bytes, count, complete);
}

void key_tree_build(CapabilityLookup lookup) {
  term.keys.tree_built = true;
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
  release_level(term.keys.tree);
  term.keys.tree = nullptr;
  term.keys.tree_built = false;
}

void key_queue_push_byte(int32_t byte) { push_key(byte); }

bool receive_if_reply(const DecodedUnit& unit) {
  if (unit.kind != Unit::CursorReport && unit.kind != Unit::SizeReport) return false;
  reports_receive(unit.kind == Unit::CursorReport ? Report::Cursor : Report::Size, unit.a, unit.b);
  return true;
}

// Decodes what has arrived, up to one key: replies met on the way go to the
// report queries, ignored sequences are dropped, and a sequence still
// arriving stays for a later call.
int32_t read_key(KeyRead read) {
  keyboard_fill();
  int32_t code = -1;
  while (keyboard_has_pending()) {
    const DecodedUnit unit = keyboard_front_unit();
    if (unit.kind == Unit::Incomplete) break;
    keyboard_consume(unit.length);
    receive_if_reply(unit);
    if (unit.kind == Unit::Key) {
      code = unit.key;
      break;
    }
  }
  if (code >= 0) {
    TermLock lock;
    push_key(code);
  }
  if (term.keys.read_index == term.keys.write_index) return -1;
  const int32_t head = term.keys.slots[term.keys.read_index];
  if (read == KeyRead::Take) term.keys.read_index = (term.keys.read_index + 1) % KEY_QUEUE_SIZE;
  return head;
}

bool key_queue_empty() { return term.keys.read_index == term.keys.write_index; }

int32_t key_available() {
  if (term.device.kind == TERM_KIND_OFF) return stream_input_ended() ? 0 : 1;
  read_key(KeyRead::Peek);
  const int32_t arrived = term.keys.key_arrived;
  term.keys.key_arrived = 0;
  return arrived;
}

std::string next_key_string() {
  if (term.device.kind == TERM_KIND_OFF) return std::string();
  const int32_t key = read_key(KeyRead::Take);
  if (key < 0) return std::string();
  if (key <= 255) return std::string(1, static_cast<char>(key));
  return std::string{static_cast<char>(key & 0xFF), static_cast<char>((key >> 8) & 0xFF)};
}

int32_t key_code_of(const std::string& key) {
  if (key.size() == 2) return static_cast<uint8_t>(key[1]) * 256 + 255;  // the first byte is always 255
  return key.empty() ? -1 : static_cast<uint8_t>(key[0]);
}
