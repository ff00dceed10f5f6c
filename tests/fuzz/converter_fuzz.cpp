// The whole redirected converter on arbitrary input: standard input is
// replaced by the fuzz input, rounds run until the program would end.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/converter.h"
#include "app/frame.h"
#include "runtime/print/print.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  unsetenv("TERM");
  // Output goes nowhere; the real standard input is never read.
  const int null = open("/dev/null", O_RDWR);
  dup2(null, STDOUT_FILENO);
  dup2(null, STDIN_FILENO);
  close(null);
  runtime_startup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  reset_file_records();
  *console_operations() = OperationTable{};
  std::FILE* input = size > 0 ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : std::fopen("/dev/null", "rb");
  if (input == nullptr) return 0;
  std::FILE* saved = stdin;
  stdin = input;
  // Every round consumes at least one byte or ends; the bound only guards that claim.
  for (std::size_t round = 0; round <= size + 1; ++round) {
    if (!converter_round()) break;
    if (round == size + 1) std::abort();  // the converter would never end on this input
  }
  stdin = saved;
  std::fclose(input);
  return 0;
}
