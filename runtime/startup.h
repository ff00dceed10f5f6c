// SPDX-License-Identifier: MIT
// Run-time start-up and shut-down: the one place that knows every layer and
// brings them up and down in order. Start-up prepares the terminal layer and
// the locale before the converter runs; shut-down restores the terminal and
// releases the context records, exactly once, when the process exits.
#pragma once

#include <cstdint>

void runtime_startup();
void runtime_shutdown();
// The END statement: ends the process through exit(), so shut-down runs.
[[noreturn]] void program_end(int32_t status);
