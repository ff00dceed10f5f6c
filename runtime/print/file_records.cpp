// SPDX-License-Identifier: MIT
// File records, the write path with column tracking, and the console record.
#include <string.h>

#include <algorithm>
#include <cstring>

#include "runtime/core/core.h"
#include "runtime/print/print.h"
#include "runtime/term/term.h"

namespace {

constexpr int32_t kFileTableSize = 255;

// Cleared at start-up.
struct FileRecords {
  FileRecord console;                 // file number 0
  FileRecord current_device;          // file number -1; never opened here
  FileRecord table[kFileTableSize];   // file numbers 1..255; never opened here
};
constinit FileRecords records{};

// Not cleared by start-up: slots filled on first use stay filled.
constinit OperationTable console_table{};

// The window size was read again: the console's width and column follow.
void follow_terminal_geometry() {
  if (console_is_set_up()) console_refresh_geometry();
}

// Column after writing data: the bytes after the last CR or LF, or the old
// column plus the length when there is none; modulo the width if it is set.
void track_column(FileRecord* record, const unsigned char* data, std::size_t length) {
  const auto* lf = static_cast<const unsigned char*>(memrchr(data, '\n', length));
  const auto* cr = static_cast<const unsigned char*>(memrchr(data, '\r', length));
  const unsigned char* last = lf == nullptr ? cr : (cr == nullptr ? lf : std::max(lf, cr));
  const bool found = last != nullptr;
  const std::size_t tail = found ? static_cast<std::size_t>(data + length - last - 1) : length;
  // Unsigned 32-bit arithmetic: a very long line wraps instead of overflowing.
  uint32_t column = found ? static_cast<uint32_t>(tail)
                          : static_cast<uint32_t>(record->column) + static_cast<uint32_t>(length);
  if (record->width != 0) column %= static_cast<uint32_t>(record->width);
  record->column = static_cast<int32_t>(column);
}

}  // namespace

FileRecord* record_for_file(int32_t file) {
  if (file == 0) return &records.console;
  if (file == -1) return &records.current_device;
  if (file >= 1 && file <= kFileTableSize) return &records.table[file - 1];
  return nullptr;
}

FileRecord* console_record() { return &records.console; }
OperationTable* console_operations() { return &console_table; }
bool console_is_set_up() { return records.console.operation_table != nullptr; }

void reset_file_records() { records = FileRecords{}; }

int32_t file_write(FileRecord* record, const void* data, std::size_t length) {
  if (record == nullptr || record->operation_table == nullptr) return set_error(ERROR_NOT_AVAILABLE);
  set_error(ERROR_NONE);
  FileWriteOp write = record->operation_table->write;
  int32_t result = write != nullptr ? write(record, data, length) : set_error(ERROR_NOT_AVAILABLE);
  if (result != ERROR_NONE) return set_error(result);
  track_column(record, static_cast<const unsigned char*>(data), length);
  return set_error(ERROR_NONE);
}

int32_t write_bytes(FileRecord* record, const void* data, std::size_t length) {
  console_setup();
  if (console_table.write == nullptr) console_table.write = console_write;
  return file_write(record, data, length);
}

void console_setup() {
  FileRecord& console = records.console;
  if (console.operation_table != nullptr) return;
  console = FileRecord{};
  console_refresh_geometry();
  console.operation_table = &console_table;
  term_set_resize_listener(follow_terminal_geometry);
}

void console_refresh_geometry() {
  int32_t columns = 0;
  term_window_size(&columns, nullptr);
  records.console.width = columns;
  records.console.column = term_cursor_column() - 1;
}

int32_t console_write(FileRecord*, const void* bytes, std::size_t length) {
  term_write(bytes, length);
  return set_error(ERROR_NONE);
}
