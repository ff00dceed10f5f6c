// SPDX-License-Identifier: MIT
// Standard output and standard input as the program's own buffered streams,
// for the redirected path, the terminal and the command line alike.
//
// Output goes to descriptor 1. While someone watches it (standard output a
// terminal, or what the watcher the terminal layer registers says) a write
// reaches it as soon as it is done; otherwise the bytes collect in 64 KiB
// and are written when the buffer fills, before standard input is read, and
// at exit. Input comes from descriptor 0 in blocks of 64 KiB.
//
// A read or write that fails (not the end of the input) calls the failure
// handler: by default it ends the program with status 1 through exit(), so
// that shut-down still runs. Nothing more is written after a failed write.
#pragma once

#include <cstddef>
#include <cstdint>

// --- Set-up ---------------------------------------------------------------

void stream_init(bool output_is_terminal);
// Decides, after every complete write, whether it goes out now; none: only
// when standard output is a terminal.
using OutputWatcher = bool (*)();
void stream_set_watcher(OutputWatcher watcher);
// Called once when a read or write fails, with "read" or "write" and errno.
// If it returns, the stream stays failed.
using StreamFailure = void (*)(const char* operation, int error);
void stream_set_failure_handler(StreamFailure handler);

// --- Output ---------------------------------------------------------------

void stream_output(const void* bytes, std::size_t length);
// After a complete write or control sequence: it goes out now if watched.
void stream_output_done();
bool stream_flush();
// Forgets what is collected and not yet written (a drawing made stale by a stop).
void stream_discard_output();
// Shut-down's flush: a failure is only recorded, as the process is ending.
bool stream_flush_at_exit();
bool stream_output_failed();
// Counts the writes: a change means something was written.
uint64_t stream_output_generation();
// Writes all the bytes straight to descriptor 1, whatever interrupts; only
// write() and poll(), so signal handlers use it too.
bool stream_write_fully(const void* bytes, std::size_t length);

// --- Input ----------------------------------------------------------------

// The next byte of standard input, or -1 at its end (or after a failure).
int stream_input_byte();
// Up to wanted bytes; fewer only at the end of the input.
std::size_t stream_input(void* destination, std::size_t wanted);
// Up to wanted bytes of what standard input has now: what is buffered, or
// else what one read brings (output is written first, as before every
// read); 0 only at its end. For a reader that answers as input comes.
std::size_t stream_input_some(void* destination, std::size_t wanted);
bool stream_input_ended();
bool stream_input_failed();
// Forgets buffered input, for a descriptor 0 that was replaced (tests).
void stream_input_forget();
