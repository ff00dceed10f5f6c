// SPDX-License-Identifier: MIT
// The command line for scripts: exact conversions between C, F, K and R.
//
//   tempconv -f SCALE -t SCALE [OPTION]... VALUE...   a result line per value
//   tempconv -f SCALE -t SCALE [OPTION]...            a filter: a result line per input line
//
// It follows the usual conventions: results on standard output, messages on
// standard error, status 0, 1 (a value was rejected, or reading or writing
// failed) or 2 (the command line itself is wrong). It never touches the
// terminal. --help and --version are answered here too; with no arguments at
// all the program is the menu instead.
#pragma once

// Runs the command line; returns the exit status.
int run_command_line(int argc, char** argv);
