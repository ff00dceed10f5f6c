// SPDX-License-Identifier: MIT
// Number formatting against printf's "%.<digits>g" on arbitrary bit patterns:
// eight bytes make the double, the ninth (if any) the digit count.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/print/print.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  uint64_t bits = 0;
  std::memcpy(&bits, data, 8);
  const double value = std::bit_cast<double>(bits);
  const int digits = size > 8 ? data[8] % 30 : 16;
  char ours[64];
  char theirs[64];
  const char* text = number_to_text(ours, digits, false, value);
  std::snprintf(theirs, sizeof theirs, "%.*g", digits, value);
  if (std::strcmp(text, theirs) != 0) std::abort();
  return 0;
}
