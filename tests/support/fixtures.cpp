// SPDX-License-Identifier: MIT
#include "tests/support/fixtures.h"

#include "runtime/startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// The key queue, the keyboard and the reports as at program start.
void forget_keys() {
  term.keys.read_index = term.keys.write_index = 0;
  term.keys.key_arrived = 0;
  key_tree_release();
  term.keyboard = Keyboard{};
  term.reports = Reports{};
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
    : saved_device_(term.device), saved_screen_(term.screen) {
  term.device = Device{};
  term.device.kind = TERM_KIND_OTHER;
  term.device.tty.fd = -1;
  term.device.key_reader = reader;
  term.device.late_wrap = true;
  // As the library hands xterm's strings out.
  term.device.capabilities[CAP_CURSOR_MOTION] = "\033[%i%p1%d;%p2%dH";
  term.device.capabilities[CAP_BELL] = "\007";
  term.device.capabilities[CAP_CURSOR_NORMAL] = "\033[?25h";
  term.device.capabilities[CAP_CURSOR_HIDDEN] = "\033[?25l";
  term.device.capabilities[CAP_KEYPAD_ON] = "\033[?1h\033=";
  term.screen = Screen{};
  forget_keys();
  if (keys != nullptr) key_tree_build(keys);
}

InventedTerminal::~InventedTerminal() {
  term.device = saved_device_;
  term.screen = saved_screen_;
  forget_keys();
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

std::string shadow_screen_text() { return term.screen.shadow.text(); }
