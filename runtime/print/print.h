// SPDX-License-Identifier: MIT
// Console output: file records, print statements, line ends, print zones,
// column tracking, number formatting, and cursor placement through the
// console record.
//
// Every statement reaches a file through its record. File number 0 is the
// console, set up on first use; its write operation hands the bytes to the
// terminal writer (term_write), which flushes standard output after each call.
// The console record follows the terminal's width and cursor column: it
// listens for window-size refreshes. Control sequences are the terminal
// layer's; nothing here emits one itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

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

// The console's file number.
inline constexpr int32_t CONSOLE = 0;

// Print flags: at most one line-end action, CRLF before NEWLINE before ZONE;
// with none of them the line stays open.
inline constexpr int32_t PRINT_LINE_OPEN = 0;
inline constexpr int32_t PRINT_NEWLINE = 1;
inline constexpr int32_t PRINT_ZONE = 2;
inline constexpr int32_t PRINT_CRLF = 4;

inline constexpr int PRINT_ZONE_WIDTH = 14;
inline constexpr std::size_t DOUBLE_TEXT_BUFFER = 40;

// Print statements on a file number.
void print_string(int32_t file, std::string_view text, int32_t flags);
void print_text(int32_t file, const char* text, int32_t flags);
void print_double(int32_t file, double value, int32_t flags);
void print_line_end(int32_t file, int32_t flags);

// "%.<digits>g" into buffer (at least digits + 9 bytes); with sign_blank a
// non-negative value gets one leading blank. Returns the start of the text.
char* number_to_text(char* buffer, int32_t digits, bool sign_blank, double value);

// Record lookup: 0 the console, -1 the current device, 1..255 the file table.
FileRecord* record_for_file(int32_t file);
int32_t write_bytes(FileRecord* record, const void* data, std::size_t length);
int32_t file_write(FileRecord* record, const void* data, std::size_t length);

// The console record and its operation table.
FileRecord* console_record();
OperationTable* console_operations();
bool console_is_set_up();
void console_setup();
void console_refresh_geometry();
int32_t console_write(FileRecord* record, const void* bytes, std::size_t length);

// Clears every file record; part of run-time start-up.
void reset_file_records();

// Cursor placement through the console record: the row must lie in the view
// range and the column in the window (0 keeps the current one), or nothing
// moves and the runtime error code is 1. On success the console's column
// follows the cursor. Returns the error code; *packed gets the packed result.
int32_t place_cursor_validated(int32_t row, int32_t column, int32_t visibility, int32_t* packed);
// The same, but a refused target still applies the visibility in place.
int32_t place_cursor(int32_t row, int32_t column, int32_t visibility);
