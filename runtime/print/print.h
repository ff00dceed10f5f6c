// Console output: file records, print statements, line ends, print zones,
// column tracking and number formatting.
//
// Every statement reaches a file through its record. File number 0 is the
// console, set up on first use; its write operation hands the bytes to the
// terminal writer (term_write), which flushes standard output after each call.
// Nothing here emits control sequences.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct FileRecord;

using FileReadOp = int32_t (*)(FileRecord* record, void* destination, std::size_t* length);
using FileWriteOp = int32_t (*)(FileRecord* record, const void* bytes, std::size_t length);
using UnusedOp = void (*)();

// A record's operations; an empty slot means the operation is not available.
struct OperationTable {
  UnusedOp reserved1;
  UnusedOp close;       // never filled here
  UnusedOp seek;        // never filled here
  UnusedOp reserved4;
  FileReadOp read;      // filled at the first INPUT statement on redirected input
  UnusedOp read_wide;   // never filled here
  FileWriteOp write;    // filled at the first console write
  UnusedOp write_wide;  // never filled here
};

inline constexpr std::size_t PUSHBACK_CAPACITY = 4;

struct FileRecord {
  int32_t column;                              // 0-based output column, reduced modulo width
  int32_t width;                               // line width; 0 means no limit
  uint8_t pushback_bytes[PUSHBACK_CAPACITY];   // bytes handed back by the input side, next first
  uint64_t pushback_count;                     // bytes held in pushback_bytes
  OperationTable* operation_table;             // nullptr: the record is not open
};

// Print flags: at most one line-end action, CRLF before NEWLINE before ZONE.
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
