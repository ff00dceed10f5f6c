// The terminal layer's process-wide state. Internal to runtime/term (and tests).
#pragma once

#include <cstdint>

struct TermState {
  int32_t kind;  // 0 handling off, 1 Linux console, 2 any other terminal
};

extern TermState term_state;
