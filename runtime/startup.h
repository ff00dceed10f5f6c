// SPDX-License-Identifier: MIT
// Run-time start-up and shut-down: the one place that knows every layer and
// brings them up and down in order. Start-up prepares the terminal layer and
// the locale before the converter runs; shut-down restores the terminal and
// releases the context records, exactly once, when the process exits.
//
// Where the process ends, all through exit() and so through shut-down, but
// for the signals:
// - program_end (below): the END statement, choice 3 or the end of the input;
// - end_with_failure (core.h): status 1, when memory runs out (the context
//   records, operator new through startup.cpp's handler), standard input or
//   output fails (stream.cpp), or reading the terminal fails (term/keyboard/tty_keyboard.cpp);
// - at exit, a last flush that fails turns the status into 1 with _exit
//   (startup.cpp), since exit() is already under way;
// - a fatal signal restores the terminal and is raised again with its default
//   action (term/lifecycle/signals.cpp); SIGTSTP stops the process the same way;
// - the command line for scripts returns its status from main (app/main.cpp).
#pragma once

#include <cstdint>

void runtime_startup();
void runtime_shutdown();
// The END statement: ends the process through exit(), so shut-down runs.
[[noreturn]] void program_end(int32_t status);
