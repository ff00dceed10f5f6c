// SPDX-License-Identifier: MIT
#include "tests/support/fixtures.h"

#include "runtime/startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

int32_t read_memory(FileRecord* record, void* destination, std::size_t* length) {
  auto* source = reinterpret_cast<MemorySource*>(record);
  auto* out = static_cast<char*>(destination);
  std::size_t count = 0;
  while (count < *length) {
    if (source->position == source->data.size()) {
      if (!source->repeat || source->data.empty()) break;
      source->position = 0;
    }
    const std::size_t n = std::min(*length - count, source->data.size() - source->position);
    std::memcpy(out + count, source->data.data() + source->position, n);
    source->position += n;
    count += n;
  }
  *length = count;
  return 0;
}

}  // namespace

InventedTerminal::InventedTerminal(KeyReader reader, CapabilityLookup keys)
    : saved_device_(term.device), saved_screen_(term_window), saved_tracked_(term_tracked) {
  term_reset_state();
  term.device.kind = TERM_KIND_OTHER;
  term.device.key_reader = reader;
  term.device.late_wrap = true;
  // As the library hands xterm's strings out.
  term.device.capabilities[CAP_CURSOR_MOTION] = "\033[%i%p1%d;%p2%dH";
  term.device.capabilities[CAP_BELL] = "\007";
  term.device.capabilities[CAP_CURSOR_NORMAL] = "\033[?25h";
  term.device.capabilities[CAP_CURSOR_HIDDEN] = "\033[?25l";
  term.device.capabilities[CAP_KEYPAD_ON] = "\033[?1h\033=";
  term.device.capabilities[CAP_KEYPAD_OFF] = "\033[?1l\033>";
  term.device.capabilities[CAP_CLEAR] = "\033[H\033[2J";
  term.device.capabilities[CAP_CLEAR_EOL] = "\033[K";
  term.device.motions[MOTION_UP_BY] = "\033[%p1%dA";
  term.device.motions[MOTION_RIGHT_BY] = "\033[%p1%dC";
  term.device.motions[MOTION_LEFT] = "\b";
  term.device.motions[MOTION_LEFT_BY] = "\033[%p1%dD";
  term.device.motions[MOTION_CLEAR_BELOW] = "\033[J";
  if (keys != nullptr) key_tree_build(keys);
}

InventedTerminal::~InventedTerminal() {
  term_reset_state();
  term.device = saved_device_;
  term_window = saved_screen_;
  term_tracked = saved_tracked_;
}

void InventedTerminal::set_window(int columns, int rows) {
  take_size_stale();
  term_set_window(columns, rows);
}

void forget_encoding() { term.encoding = Encoding::Unknown; }

void InventedTerminal::use_keys(CapabilityLookup keys) {
  key_tree_release();
  key_tree_build(keys);
}

MemorySource::MemorySource(std::string bytes, bool repeat_bytes) : data(std::move(bytes)), repeat(repeat_bytes) {
  table.read = read_memory;
  record.operation_table = &table;
}

void start_runtime_quietly() {
  unsetenv("TERM");
  const int null = open("/dev/null", O_RDWR);
  dup2(null, STDOUT_FILENO);
  dup2(null, STDIN_FILENO);
  close(null);
  runtime_startup();
}

std::string shadow_screen_text() { return term_tracked.shadow.text(); }

namespace key_script {
namespace {

std::vector<int> script;
std::size_t at = 0;
int64_t now_ms = 0;
bool stall_met = false;
int64_t clock() { return now_ms; }

}  // namespace

void feed(std::vector<int> bytes) {
  script = std::move(bytes);
  at = 0;
  stall_met = false;
  term_keyboard.clock = clock;
  term_keyboard.ended = false;
}

int reader() {
  if (at == script.size()) {
    now_ms += 10000;
    term_keyboard.ended = true;  // typing is over: whatever waits for keys gives up
    return -1;
  }
  const int entry = script[at];
  if (entry >= 0) {
    ++at;
    return entry;
  }
  // A stall or a pause is met twice: where the bytes before it stop, and
  // once its time has passed, when whatever waited on them is decided (and
  // the keys before it are drawn).
  if ((entry == STALL || entry == PAUSE) && !stall_met) {
    stall_met = true;
    return -1;
  }
  stall_met = false;
  ++at;
  now_ms += entry == GAP ? 2 : (entry == STALL ? 150 : 10000);
  return -1;
}

bool used_up() { return at == script.size(); }

std::vector<int> typed(std::string_view keys, bool burst) {
  static const struct {
    const char* name;
    const char* bytes;
  } kNamed[] = {
      {"left", "\033OD"},   {"right", "\033OC"},     {"up", "\033OA"},        {"down", "\033OB"},
      {"home", "\033OH"},   {"end", "\033OF"},       {"del", "\033[3~"},      {"bs", "\177"},
      {"tab", "\t"},        {"esc", "\033"},         {"enter", "\r"},         {"f1", "\033OP"},
      {"pgup", "\033[5~"},  {"ins", "\033[2~"},      {"btab", "\033[Z"},      {"m-bs", "\033\177"},
      {"c-left", "\033[1;5D"}, {"c-right", "\033[1;5C"}, {"c-up", "\033[1;5A"},
      {"m-left", "\033[1;3D"}, {"m-up", "\033[1;3A"}, {"urxvt-m-left", "\033\033[D"}, {"linux-f1", "\033[[A"},
      {"m-gt", "\033>"},
      // The keypad in application mode, and keys as CSI u and modifyOtherKeys send them.
      {"kp-minus", "\033Om"}, {"kp-4", "\033Ot"}, {"kp-0", "\033Op"}, {"kp-point", "\033On"},
      {"kp-enter", "\033OM"}, {"u-c-a", "\033[97;5u"}, {"u-esc", "\033[27u"}, {"u-enter", "\033[13u"},
      {"mok-c-e", "\033[27;5;101~"}, {"paste", "\033[200~"}, {"/paste", "\033[201~"},
      {"c-del", "\033[3;5~"}, {"u-eacute", "\033[233u"},
  };
  std::vector<int> bytes;
  auto add = [&](std::string_view key) {
    if (!bytes.empty() && !burst) bytes.push_back(PAUSE);
    for (const char c : key) bytes.push_back(static_cast<uint8_t>(c));
  };
  for (std::size_t i = 0; i < keys.size();) {
    const std::size_t close = keys[i] == '<' ? keys.find('>', i) : std::string_view::npos;
    if (close == std::string_view::npos) {
      std::size_t length = 1;  // a UTF-8 character is one key
      while (i + length < keys.size() && (static_cast<uint8_t>(keys[i + length]) & 0xC0) == 0x80) ++length;
      add(keys.substr(i, length));
      i += length;
      continue;
    }
    const std::string_view name = keys.substr(i + 1, close - i - 1);
    std::string key;
    for (const auto& named : kNamed) {
      if (name == named.name) key = named.bytes;
    }
    if (name.starts_with("stalled-")) {  // ESC, a stall, then the rest
      std::string_view rest;
      for (const auto& named : kNamed) {
        if (name.substr(8) == named.name) rest = std::string_view(named.bytes).substr(1);
      }
      add("\033");
      bytes.push_back(STALL);
      for (const char c : rest) bytes.push_back(static_cast<uint8_t>(c));
      i = close + 1;
      continue;
    }
    if (key.empty() && name.size() == 3 && name[1] == '-') {
      key = name[0] == 'c' ? std::string(1, static_cast<char>(name[2] & 0x1F)) : std::string("\033") + name[2];
    }
    if (key.empty() && name.size() == 5 && name.starts_with("m-c-")) key = std::string("\033") + static_cast<char>(name[4] & 0x1F);
    add(key);
    i = close + 1;
  }
  return bytes;
}

const char* xterm_keys(const char* id) {
  static const struct {
    const char* id;
    const char* sequence;
  } kKeys[] = {{"kl", "\033OD"}, {"kr", "\033OC"}, {"ku", "\033OA"}, {"kd", "\033OB"}, {"kh", "\033OH"},
               {"@7", "\033OF"}, {"kD", "\033[3~"}, {"kI", "\033[2~"}, {"kP", "\033[5~"}, {"k1", "\033OP"}};
  for (const auto& key : kKeys) {
    if (id[0] == key.id[0] && id[1] == key.id[1]) return key.sequence;
  }
  return nullptr;
}

}  // namespace key_script
