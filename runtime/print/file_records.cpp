// SPDX-License-Identifier: MIT
// File records: the write path with column tracking, the read path with
// pushed-back bytes, and the console record.
#include <string.h>

#include <algorithm>
#include <cstring>

#include "runtime/core/core.h"
#include "runtime/print/print_internal.h"
#include "runtime/stream/stream.h"
#include "runtime/term/term.h"

namespace {

constexpr int32_t kFileTableSize = 255;
constexpr std::size_t kStreamChunk = 0x100000;

// The print layer's state: one record.
struct Print {
  struct {
    FileRecord console;                 // file number 0
    FileRecord current_device;          // file number -1; never opened here
    FileRecord table[kFileTableSize];   // file numbers 1..255; never opened here
  } records;                            // cleared at start-up
  OperationTable console_table;         // not cleared: slots filled on first use stay filled
};
constinit Print print{};

// The console's width, and the column it tracked kept within it.
void take_width(int32_t columns) {
  FileRecord& console = print.records.console;
  console.width = columns;
  if (columns > 0) console.column %= columns;
}

// The window size was read again, perhaps in the middle of a write: the
// console follows the width without asking where the cursor is (that would
// put a question inside the write; the line editor asks where its line
// starts after a resize).
void follow_terminal_width(int32_t columns) {
  if (console_is_set_up()) take_width(columns);
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
  if (file == 0) return &print.records.console;
  if (file == -1) return &print.records.current_device;
  if (file >= 1 && file <= kFileTableSize) return &print.records.table[file - 1];
  return nullptr;
}

FileRecord* console_record() { return &print.records.console; }
OperationTable* console_operations() { return &print.console_table; }
bool console_is_set_up() { return print.records.console.operation_table != nullptr; }

void reset_file_records() { print.records = {}; }

int32_t file_write(FileRecord* record, const void* data, std::size_t length) {
  if (record == nullptr || record->operation_table == nullptr) return set_error(ERROR_NOT_AVAILABLE);
  set_error(ERROR_NONE);
  FileWriteOp write = record->operation_table->write;
  int32_t result = write != nullptr ? write(record, data, length) : set_error(ERROR_NOT_AVAILABLE);
  if (result != ERROR_NONE) return set_error(result);
  track_column(record, static_cast<const unsigned char*>(data), length);
  return set_error(ERROR_NONE);
}

void console_ready_for_writing() {
  console_setup();
  if (print.console_table.write == nullptr) print.console_table.write = console_write;
}

int32_t write_bytes(FileRecord* record, const void* data, std::size_t length) {
  console_ready_for_writing();
  return file_write(record, data, length);
}

void console_setup() {
  FileRecord& console = print.records.console;
  if (console.operation_table != nullptr) return;
  console = FileRecord{};
  console_refresh_geometry();
  console.operation_table = &print.console_table;
  term_set_resize_listener(follow_terminal_width);
}

void console_read_from_stream() {
  console_setup();
  if (print.console_table.read == nullptr) print.console_table.read = stream_read;
}

void console_refresh_geometry() {
  int32_t columns = 0;
  term_window_size(&columns, nullptr);
  take_width(columns);
  // Where the terminal says the cursor is; without an answer, the column tracked.
  int32_t column = 0, row = 0;
  if (term_ask_cursor(&column, &row)) print.records.console.column = column - 1;
}

int32_t console_write(FileRecord*, const void* bytes, std::size_t length) {
  term_write(bytes, length);
  return set_error(ERROR_NONE);
}

// --- The read path --------------------------------------------------------

int32_t stream_read(FileRecord*, void* destination, std::size_t* length) {
  const std::size_t wanted = *length;
  auto* bytes = static_cast<uint8_t*>(destination);
  std::size_t delivered = 0;
  // In chunks; one that comes back short ends the reading.
  while (delivered < wanted) {
    const std::size_t chunk = std::min(wanted - delivered, kStreamChunk);
    const std::size_t got = stream_input(bytes + delivered, chunk);
    delivered += got;
    if (got < chunk) break;
  }
  if (delivered < wanted) std::memset(bytes + delivered, 0, wanted - delivered);
  *length = delivered;
  return set_error(ERROR_NONE);
}

int32_t file_read(FileRecord* record, void* destination, std::size_t wanted, std::size_t* delivered) {
  *delivered = 0;
  if (record == nullptr || record->operation_table == nullptr) return set_error(ERROR_NOT_AVAILABLE);
  set_error(ERROR_NONE);
  auto* bytes = static_cast<uint8_t*>(destination);
  const std::size_t from_pushback = std::min<std::size_t>(record->pushback_count, wanted);
  if (from_pushback != 0) {
    std::memcpy(bytes, record->pushback_bytes, from_pushback);
    std::memmove(record->pushback_bytes, record->pushback_bytes + from_pushback,
                 record->pushback_count - from_pushback);
    record->pushback_count -= from_pushback;
    *delivered = from_pushback;
  }
  if (from_pushback == wanted) return ERROR_NONE;
  FileReadOp read = record->operation_table->read;
  if (read == nullptr) return set_error(ERROR_NOT_AVAILABLE);
  std::size_t count = wanted - from_pushback;
  const int32_t result = read(record, bytes + from_pushback, &count);
  *delivered += count;
  return set_error(result);
}

int32_t file_push_back(FileRecord* record, const uint8_t* bytes, std::size_t count) {
  if (record == nullptr || record->operation_table == nullptr) return set_error(ERROR_NOT_AVAILABLE);
  set_error(ERROR_NONE);
  if (record->pushback_count + count > PUSHBACK_CAPACITY) return set_error(ERROR_PUSHBACK_FULL);
  std::memmove(record->pushback_bytes + count, record->pushback_bytes, record->pushback_count);
  std::memcpy(record->pushback_bytes, bytes, count);
  record->pushback_count += count;
  return ERROR_NONE;
}
