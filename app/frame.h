// Program frame: run-time start-up and shut-down, the END statement, the six
// context slots and the runtime error code.
//
// Start-up prepares the terminal layer and the locale before the converter
// runs; shut-down restores the terminal and releases the context records,
// exactly once, when the process exits normally. The context slots hold
// lazily created records: slot 0 the error context, slot 2 the INPUT context.
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

void runtime_startup();
void runtime_shutdown();
[[noreturn]] void program_end(int32_t status);

// Ends the process with a failure status after the terminal has been put back.
// Used where a record the program cannot go on without could not be allocated.
[[noreturn]] void end_on_out_of_memory();

// The slot's zero-filled data area, created on first use; nullptr if that
// allocation fails (the slot stays empty).
void* context_get(int index, std::size_t size, ContextDestructor destructor);
// Like context_get, but ends the process when the record cannot be created.
void* context_require(int index, std::size_t size, ContextDestructor destructor);
void context_release(int index);
void context_release_all();

int32_t set_error(int32_t code);
int32_t get_error();
