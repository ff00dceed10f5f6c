// SPDX-License-Identifier: MIT
// The command that runs the program under test: the built binary, optionally
// behind a wrapper such as valgrind, given in TEMPCONV_TEST_WRAPPER
// (words separated by blanks).
#pragma once

#include <string>
#include <vector>

std::vector<std::string> program_command();
// The same command as one shell word list.
std::string program_shell_command();
// True when a wrapper is in use: timings and memory figures are the wrapper's.
bool program_is_wrapped();
// True when the program's memory figures are its own: no wrapper, and not a
// sanitizer build (whose shadow memory counts too).
bool program_memory_is_its_own();
// The test's environment without TERM, plus the given "NAME=value" entries (which replace their names).
std::vector<std::string> program_environment(const std::vector<std::string>& extra);
