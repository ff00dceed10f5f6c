// SPDX-License-Identifier: MIT
// Micro-benchmarks of the hot paths: number formatting, the field scanner
// with the double read, and key decoding of an escape sequence.
//
//   build/bench/micro
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "runtime/input/input_internal.h"
#include "runtime/print/print.h"
#include "runtime/term/term_internal.h"
#include "tests/support/fixtures.h"

namespace {

void NumberToText(benchmark::State& state) {
  const double values[] = {37.77777777777778, -40.0, 1e16, 4.940656458412465e-324, 98.59999999999999, 0.0};
  char buffer[DOUBLE_TEXT_BUFFER];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(number_to_text(buffer, 16, true, values[i++ % 6]));
  }
}
BENCHMARK(NumberToText);

void FieldScanAndDoubleRead(benchmark::State& state) {
  MemorySource source("212\n-37.5\n1e2\n&H1F\n\"  98.6\"\n", true);
  InputContext* context = input_context();
  context->source = &source.record;
  double value = 0;
  for (auto _ : state) {
    read_double_field(&value);
    benchmark::DoNotOptimize(value);
  }
  context->source = nullptr;
}
BENCHMARK(FieldScanAndDoubleRead);

const char* xterm_keys(const char* id) {
  if (std::strcmp(id, "kl") == 0) return "\033OD";
  if (std::strcmp(id, "kr") == 0) return "\033OC";
  if (std::strcmp(id, "ku") == 0) return "\033OA";
  if (std::strcmp(id, "kd") == 0) return "\033OB";
  if (std::strcmp(id, "kD") == 0) return "\033[3~";
  if (std::strcmp(id, "kP") == 0) return "\033[5~";
  if (std::strcmp(id, "k5") == 0) return "\033[15~";
  return nullptr;
}

// Delete, one key per read as a person types it: the reader has nothing more
// after each (a reader that never runs dry would time a fill of thousands).
const char kSequence[] = "\033[3~";
std::size_t sequence_at = 0;
int sequence_reader() {
  if (sequence_at == 4) {
    sequence_at = 0;
    return -1;
  }
  return static_cast<unsigned char>(kSequence[sequence_at++]);
}

void DecodeEscapeSequence(benchmark::State& state) {
  InventedTerminal terminal(sequence_reader, xterm_keys);
  for (auto _ : state) {
    benchmark::DoNotOptimize(read_key(KeyRead::Take));
  }
}
BENCHMARK(DecodeEscapeSequence);

}  // namespace

BENCHMARK_MAIN();
