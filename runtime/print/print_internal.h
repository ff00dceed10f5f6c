// SPDX-License-Identifier: MIT
// What only the print layer's files share, and tests: the console's
// operation table and whether the console record is set up.
#pragma once

#include "runtime/print/print.h"

inline constexpr int PRINT_ZONE_WIDTH = 14;

// The console's operation table: slots filled on first use stay filled
// (start-up does not clear it).
OperationTable* console_operations();
bool console_is_set_up();
// The console's write operation in its table, the record set up: what every write needs first.
void console_ready_for_writing();
