// SPDX-License-Identifier: MIT
// tempconv: a temperature converter. With no arguments, the menu program,
// on a terminal or on redirected input; with arguments, the command line for
// scripts, which never touches the terminal.
#include <cstdlib>

#include "app/command_line.h"
#include "app/converter.h"
#include "runtime/startup.h"

int main(int argc, char** argv) {
  if (argc > 1) return run_command_line(argc, argv);
  // Shut-down runs once, at whichever exit ends the process.
  runtime_startup();
  if (std::atexit(runtime_shutdown) != 0) {
    runtime_shutdown();  // the terminal must never be left as the program set it
    return EXIT_FAILURE;
  }
  converter_loop();
}
