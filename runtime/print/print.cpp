// SPDX-License-Identifier: MIT
// Print statements and their line-end actions.
#include <cstring>

#include "runtime/core/core.h"
#include "runtime/print/print_internal.h"

namespace {

void advance_to_next_zone(FileRecord* record) {
  console_ready_for_writing();
  if (record == nullptr) {
    set_error(ERROR_NOT_AVAILABLE);
    return;
  }
  // The column is read as unsigned so the arithmetic below stays in range.
  const int64_t a = static_cast<uint32_t>(record->column);
  const int64_t width = record->width;
  const int64_t current = a + 1;
  int64_t next = ((a + PRINT_ZONE_WIDTH) / PRINT_ZONE_WIDTH) * PRINT_ZONE_WIDTH + 1;
  if (width != 0 && width < next) next = 1;
  if (next <= current) {
    write_bytes(record, "\n", 1);
    return;
  }
  char blanks[PRINT_ZONE_WIDTH + 1];
  std::memset(blanks, ' ', sizeof blanks);
  write_bytes(record, blanks, static_cast<std::size_t>(next - current));
}

void line_end_action(FileRecord* record, int32_t flags) {
  if (flags & PRINT_CRLF) {
    write_bytes(record, "\r\n", 2);
  } else if (flags & PRINT_NEWLINE) {
    write_bytes(record, "\n", 1);
  } else if (flags & PRINT_ZONE) {
    advance_to_next_zone(record);
  }
}

}  // namespace

void print_string(int32_t file, std::string_view text, int32_t flags) {
  FileRecord* record = record_for_file(file);
  if (!text.empty()) write_bytes(record, text.data(), text.size());
  line_end_action(record, flags);
}

// The bytes up to the NUL, as a string; none prints nothing.
void print_text(int32_t file, const char* text, int32_t flags) {
  print_string(file, text != nullptr ? std::string_view(text) : std::string_view(), flags);
}

void print_double(int32_t file, double value, int32_t flags) {
  char buffer[DOUBLE_TEXT_BUFFER];
  print_text(file, number_to_text(buffer, 16, true, value), flags);
}

void print_line_end(int32_t file, int32_t flags) { line_end_action(record_for_file(file), flags); }
