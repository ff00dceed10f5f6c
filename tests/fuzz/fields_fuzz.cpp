// SPDX-License-Identifier: MIT
// The field scanner and the numeric reads on arbitrary bytes, on both input
// sources, and the text-to-number routines on arbitrary text and lengths.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/core/core.h"
#include "runtime/input/input_internal.h"
#include "tests/support/fixtures.h"

namespace {

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

  MemorySource source(std::string(reinterpret_cast<const char*>(data), size));
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
