// SPDX-License-Identifier: MIT
// The line editor fed arbitrary keyboard bytes in a UTF-8 locale, on an
// invented terminal that never answers, so every key is handled from the
// editor's own model: the first bytes pick the window size, the prompt and
// the cursor mode. Lines are edited until the keys run out.
#include <cstdint>
#include <cstdlib>

#include "runtime/input/input_internal.h"
#include "runtime/term/term_internal.h"
#include "tests/support/fixtures.h"

namespace {

const uint8_t* keys = nullptr;
std::size_t key_count = 0;
std::size_t next_key = 0;

int fuzz_reader() {
  if (next_key < key_count) return keys[next_key++];
  term.keyboard.ended = true;  // the keyboard went away: the editor must give up
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("LC_ALL", "C.UTF-8", 1);
  start_runtime_quietly();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  InventedTerminal terminal(fuzz_reader, key_script::xterm_keys);
  // No tty to answer: every question fails at once and the model works alone.
  term.screen.resize_flag = 0;
  term.screen.window_columns = 1 + data[0] % 90;
  term.screen.window_rows = 1 + data[1] % 30;
  const char* prompt = (data[2] & 1) != 0 ? "Input temperature in Celsius: " : "? ";
  const int32_t mode = (data[2] & 2) != 0 ? EDIT_WITH_SOFT_CURSOR : EDIT_WITH_TERMINAL_CURSOR;
  keys = data + 3;
  key_count = size - 3;
  next_key = 0;
  EditMemory memory;
  for (std::size_t line = 0; line <= key_count + 1; ++line) {
    LineEnding ending = LineEnding::Enter;
    line_edit(mode, &ending, prompt, &memory);
    if (ending == LineEnding::EndOfInput || next_key >= key_count) break;
    if (line == key_count + 1) std::abort();  // a line that took no key
  }
  return 0;
}
