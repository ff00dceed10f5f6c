// SPDX-License-Identifier: MIT
// The key decoder fed arbitrary keyboard bytes, with a few terminal entries:
// the first byte picks the entry and how often the keyboard runs dry.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/term/term.h"
#include "runtime/term/term_internal.h"
#include "tests/support/fixtures.h"

namespace {

struct Entry {
  const char* keys[24][2];
};

// xterm-like application keys, a Linux-console-like entry, and an awkward
// one: shared prefixes, a sequence that is a prefix of another, duplicates,
// a one-byte key and an empty string.
const Entry kEntries[] = {
    {{{"kl", "\033OD"}, {"kr", "\033OC"}, {"ku", "\033OA"}, {"kd", "\033OB"}, {"kh", "\033OH"},
      {"@7", "\033OF"}, {"kD", "\033[3~"}, {"kI", "\033[2~"}, {"kP", "\033[5~"}, {"kN", "\033[6~"},
      {"k1", "\033OP"}, {"k5", "\033[15~"}, {"kb", "\177"}}},
    {{{"kl", "\033[D"}, {"kr", "\033[C"}, {"ku", "\033[A"}, {"kd", "\033[B"}, {"kh", "\033[1~"},
      {"@7", "\033[4~"}, {"kD", "\033[3~"}, {"k1", "\033[[A"}, {"k2", "\033[[B"}}},
    {{{"kb", "\033["}, {"kT", "\033[Z"}, {"k1", "\033[M"}, {"k2", "\033[5"}, {"k3", "\033[5~"},
      {"k4", "\033[5"}, {"k5", "\033"}, {"k6", "x"}, {"kl", "\033\033"}, {"kr", "\033\377\377"}}},
};

const Entry* entry = nullptr;
const char* lookup(const char* id) {
  for (const auto& key : entry->keys) {
    if (key[0] != nullptr && std::strcmp(key[0], id) == 0) return key[1];
  }
  return nullptr;
}

const uint8_t* bytes = nullptr;
std::size_t length = 0;
std::size_t at = 0;
unsigned dry_every = 0;  // every n-th read finds nothing pending
unsigned reads = 0;

int fuzz_reader() {
  ++reads;
  if (dry_every != 0 && reads % dry_every == 0) return -1;
  return at < length ? bytes[at++] : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  entry = &kEntries[data[0] % 3];
  dry_every = (data[0] >> 2) % 8;
  bytes = data + 1;
  length = size - 1;
  at = 0;
  reads = 0;

  InventedTerminal terminal(fuzz_reader, lookup);
  for (std::size_t step = 0; step < 4 * size + 8 && (at < length || !key_queue_empty()); ++step) {
    switch (step % 3) {
      case 0: read_key_and_report_arrival(); break;
      case 1: next_key_string(); break;
      default: read_key(step & 1 ? KeyRead::Take : KeyRead::Peek); break;
    }
    if (term_key_queue.read_index < 0 || term_key_queue.read_index >= KEY_QUEUE_SIZE || term_key_queue.write_index < 0 ||
        term_key_queue.write_index >= KEY_QUEUE_SIZE)
      std::abort();
  }
  return 0;
}
