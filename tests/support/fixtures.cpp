// SPDX-License-Identifier: MIT
#include "tests/support/fixtures.h"

#include "runtime/startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

void empty_key_queue() {
  key_state.read_index = key_state.write_index = 0;
  key_state.key_arrived = 0;
}

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
    : saved_term_(term_state), saved_screen_(screen_state), saved_shadow_(shadow) {
  term_state = TermState{};
  term_state.kind = TERM_KIND_OTHER;
  term_state.tty.fd = -1;
  term_state.key_reader = reader;
  term_state.late_wrap = true;
  term_state.foreground_colour = 7;
  term_state.cursor_column = 1;
  term_state.cursor_row = 1;
  term_state.capabilities[CAP_CURSOR_MOTION] = "\033[%i%p1%d;%p2%dH";  // as the library hands it out
  term_state.capabilities[CAP_BELL] = "\007";
  term_state.capabilities[CAP_CURSOR_NORMAL] = "\033[?25h";
  term_state.capabilities[CAP_CURSOR_HIDDEN] = "\033[?25l";
  term_state.capabilities[CAP_KEYPAD_ON] = "\033[?1h\033=";
  screen_state = SCREEN_STATE_AT_START;
  shadow.clear();
  keyboard = Keyboard{};
  reports_reset();
  empty_key_queue();
  key_tree_release();
  if (keys != nullptr) key_tree_build(keys);
}

InventedTerminal::~InventedTerminal() {
  shadow = saved_shadow_;
  term_state = saved_term_;
  screen_state = saved_screen_;
  keyboard = Keyboard{};
  reports_reset();
  empty_key_queue();
  key_tree_release();
}

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

std::string shadow_screen_text() { return shadow.text(); }
