// SPDX-License-Identifier: MIT
#include "runtime/startup.h"

#include <clocale>
#include <cstdlib>
#include <new>
#include <unistd.h>

#include "runtime/core/core.h"
#include "runtime/print/print.h"
#include "runtime/term/term.h"
#include "runtime/stream/stream.h"

namespace {

// Start-up runs at 1 and shut-down at 0; nested requests only count.
constinit int32_t init_counter = 0;

void handle_new_failure() { end_with_failure(); }

}  // namespace

void runtime_startup() {
  if (++init_counter != 1) return;
  reset_file_records();
  term_init();
  // Only character classification follows the environment: numbers keep the "." point.
  std::setlocale(LC_CTYPE, "");
  std::set_new_handler(handle_new_failure);
}

void runtime_shutdown() {
  if (--init_counter != 0) return;
  term_shutdown();  // writes what output is still collected, then restores the terminal
  context_release_all();
  // Already inside exit(): a last write that failed can only change the status this way.
  if (stream_output_failed()) _exit(EXIT_FAILURE);
}

void program_end(int32_t status) { std::exit(status); }
