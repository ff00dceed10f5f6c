// The field scanner and the numeric reads on arbitrary bytes, on both input
// sources, and the text-to-number routines on arbitrary text and lengths.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/frame.h"
#include "runtime/input/input.h"

namespace {

struct ByteSource {
  FileRecord record{};
  OperationTable table{};
  const uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t at = 0;
};

int32_t read_bytes(FileRecord* record, void* destination, std::size_t* length) {
  auto* source = reinterpret_cast<ByteSource*>(record);
  const std::size_t count = std::min(*length, source->size - source->at);
  std::memcpy(destination, source->data + source->at, count);
  source->at += count;
  *length = count;
  return 0;
}

// Alternates integer and double reads until the input is used up.
void read_all_fields(InputContext* context, std::size_t size) {
  for (std::size_t field = 0; field <= size + 1; ++field) {
    int64_t integer = 0;
    double real = 0;
    if (field % 2 == 0) {
      read_int64_field(&integer);
    } else {
      read_double_field(&real);
    }
    if (context->reached_end) return;
    if (field == size + 1) std::abort();  // a field read that consumed nothing
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  InputContext* context = input_context();

  ByteSource source;
  source.table.read = read_bytes;
  source.record.operation_table = &source.table;
  source.data = data;
  source.size = size;
  context->source = &source.record;
  read_all_fields(context, size);

  context->source = nullptr;
  context->read_position = 0;
  context->line_ended_input = true;
  *context->line_text = std::string(reinterpret_cast<const char*>(data), size);
  read_all_fields(context, size);
  context->line_text->clear();

  const auto* text = reinterpret_cast<const char*>(data);
  for (int64_t length : {static_cast<int64_t>(size), static_cast<int64_t>(size / 2), int64_t{-1}}) {
    text_to_int32(text, length);
    text_to_int64(text, length);
    text_to_double(text, length);
    for (int base : {2, 8, 10, 16}) {
      prefix_digits32(text, length, base);
      prefix_digits64(text, length, base);
    }
  }
  return 0;
}
