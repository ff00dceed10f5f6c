// SPDX-License-Identifier: MIT
// The run-time core: the six context slots and the runtime error code that
// every other layer reports through. Depends on nothing else in the program.
//
// The context slots hold lazily created records: slot 0 the error context,
// slot 2 the INPUT context. A record lives until run-time shut-down releases
// it.
#pragma once

#include <cstddef>
#include <cstdint>

// Runtime error codes.
inline constexpr int32_t ERROR_NONE = 0;
inline constexpr int32_t ERROR_NOT_AVAILABLE = 1;  // no open record / operation, or a cursor target out of range
inline constexpr int32_t ERROR_PUSHBACK_FULL = 3;  // more than 4 pushback bytes

inline constexpr int CONTEXT_SLOTS = 6;
inline constexpr int CONTEXT_ERROR = 0;
inline constexpr int CONTEXT_INPUT = 2;

using ContextDestructor = void (*)(void* data);

// The slot's zero-filled data area, created on first use; nullptr if that
// allocation fails (the slot stays empty).
void* context_get(int index, std::size_t size, ContextDestructor destructor);
// Like context_get, but ends the process when the record cannot be created.
void* context_require(int index, std::size_t size, ContextDestructor destructor);
void context_release(int index);
void context_release_all();

int32_t set_error(int32_t code);

// Ends the process with status 1 through exit(), whose finalisers restore the
// terminal first: memory the program cannot go on without ran out, or
// standard input or output failed.
[[noreturn]] void end_with_failure();

// --- The run-time's contract, not on the converter's path ------------------
// The reader of the runtime error code: the converter never looks at it.
int32_t get_error();
