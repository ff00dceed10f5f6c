// SPDX-License-Identifier: MIT
// The whole redirected converter on arbitrary input: standard input is a
// memory file holding the fuzz input, rounds run until the program would end.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/converter.h"
#include "runtime/print/print_internal.h"
#include "runtime/term/term.h"
#include "runtime/stream/stream.h"
#include "tests/support/fixtures.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  start_runtime_quietly();  // output goes nowhere
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  reset_file_records();
  *console_operations() = OperationTable{};
  const int input = memfd_create("fuzz-input", 0);
  if (input < 0) return 0;
  if (size > 0 && write(input, data, size) != static_cast<ssize_t>(size)) std::abort();
  lseek(input, 0, SEEK_SET);
  dup2(input, STDIN_FILENO);
  close(input);
  stream_input_forget();
  // Every round consumes at least one byte or ends; the bound only guards that claim.
  for (std::size_t round = 0; round <= size + 1; ++round) {
    if (!converter_round()) break;
    if (round == size + 1) std::abort();  // the converter would never end on this input
  }
  return 0;
}
