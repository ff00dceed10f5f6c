// Double to text as print statements show it.
#include <cstdio>

#include "runtime/print/print.h"

char* number_to_text(char* buffer, int32_t digits, bool sign_blank, double value) {
  if (digits < 0) digits = 0;
  char* start = sign_blank ? buffer + 1 : buffer;
  // %g is at most digits + 7 characters: sign, digits, point and an exponent
  // such as e-308; the caller's buffer holds digits + 9 bytes.
  const std::size_t room = static_cast<std::size_t>(digits) + 8;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-truncation"
#endif
  std::snprintf(start, room, "%.*g", static_cast<int>(digits), value);
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
  if (sign_blank && start[0] != '-') {
    buffer[0] = ' ';
    return buffer;
  }
  return start;
}
