// SPDX-License-Identifier: MIT
// Console output: print statements with their line ends and print zones,
// the file records they write through (with column tracking), number
// formatting, and the console record INPUT reads redirected input through.
//
// File number 0 is the console, set up on first use: its write operation
// hands the bytes to the terminal writer (term_write), and its record
// follows the terminal's width and cursor column, told of every window-size
// refresh. Output reaches standard output as the streams decide (at once on
// a terminal, in blocks into a file or pipe). Control sequences are the
// terminal layer's; nothing here emits one itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// --- Print statements ---------------------------------------------------------

// The console's file number.
inline constexpr int32_t CONSOLE = 0;

// Print flags: at most one line-end action, CRLF before NEWLINE before ZONE;
// with none of them the line stays open.
inline constexpr int32_t PRINT_LINE_OPEN = 0;
inline constexpr int32_t PRINT_NEWLINE = 1;
inline constexpr int32_t PRINT_ZONE = 2;
inline constexpr int32_t PRINT_CRLF = 4;

void print_string(int32_t file, std::string_view text, int32_t flags);
void print_text(int32_t file, const char* text, int32_t flags);
void print_double(int32_t file, double value, int32_t flags);
void print_line_end(int32_t file, int32_t flags);

// "%.<digits>g" into buffer (at least digits + 9 bytes); with sign_blank a
// non-negative value gets one leading blank. Returns the start of the text.
inline constexpr std::size_t DOUBLE_TEXT_BUFFER = 40;
char* number_to_text(char* buffer, int32_t digits, bool sign_blank, double value);
// printf's %g layout of a number already rounded to precision significant
// digits: those digits (ASCII, count of them; trailing zeros are dropped
// here) and the decimal exponent of the first. Writes the sign, the digits,
// the point and an exponent of at least two digits at out (count + 10 bytes
// are enough for exponents to 99999) and returns the end.
char* lay_out_general(char* out, bool negative, const char* digits, int count, int64_t exponent, int precision);

// --- File records, and the console's for INPUT ------------------------------

struct FileRecord;
using FileReadOp = int32_t (*)(FileRecord* record, void* destination, std::size_t* length);
using FileWriteOp = int32_t (*)(FileRecord* record, const void* bytes, std::size_t length);

// A record's operations; an empty slot means the operation is not available.
struct OperationTable {
  FileReadOp read;      // filled at the first INPUT statement on redirected input
  FileWriteOp write;    // filled at the first console write
};

inline constexpr std::size_t PUSHBACK_CAPACITY = 4;

struct FileRecord {
  int32_t column;                              // 0-based output column, reduced modulo width
  int32_t width;                               // line width; 0 means no limit
  uint8_t pushback_bytes[PUSHBACK_CAPACITY];   // bytes handed back by the input side, next first
  uint64_t pushback_count;                     // bytes held in pushback_bytes
  OperationTable* operation_table;             // nullptr: the record is not open
};

FileRecord* console_record();
// Sets the console record up, with the stream read operation in its table:
// redirected input is read through it.
void console_read_from_stream();
// Reads pushed-back bytes first, then through the record's read operation;
// returns the runtime error code.
int32_t file_read(FileRecord* record, void* destination, std::size_t wanted, std::size_t* delivered);
// Puts bytes in front of the record's pushed-back bytes (at most 4 in all).
int32_t file_push_back(FileRecord* record, const uint8_t* bytes, std::size_t count);
// Clears every file record; part of run-time start-up.
void reset_file_records();

// --- The run-time's contract, not on the converter's path ------------------
// File numbers other than the console's, writing to a record directly, the
// console's set-up and operations by name, and cursor placement through the
// console record: validated against the view range and the window.

// Record lookup: 0 the console, -1 the current device, 1..255 the file table.
FileRecord* record_for_file(int32_t file);
int32_t write_bytes(FileRecord* record, const void* data, std::size_t length);
// Writes through the record's write operation and tracks its column. Bytes
// pushed back on the read side stay: a write does not take back input.
int32_t file_write(FileRecord* record, const void* data, std::size_t length);
void console_setup();
void console_refresh_geometry();
int32_t console_write(FileRecord* record, const void* bytes, std::size_t length);
// The stream read operation: standard input, in chunks of at most 0x100000 bytes.
int32_t stream_read(FileRecord* record, void* destination, std::size_t* length);
// The row must lie in the view range and the column in the window (0 keeps
// the current one), or nothing moves and the runtime error code is 1. On
// success the console's column follows the cursor. Returns the error code;
// *packed gets the packed result.
int32_t place_cursor_validated(int32_t row, int32_t column, int32_t visibility, int32_t* packed);
// The same, but a refused target still applies the visibility in place.
int32_t place_cursor(int32_t row, int32_t column, int32_t visibility);
