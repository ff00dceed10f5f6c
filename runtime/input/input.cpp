// SPDX-License-Identifier: MIT
// INPUT start, the input sources and pushback.
#include <algorithm>
#include <cstring>
#include <unistd.h>

#include "runtime/core/core.h"
#include "runtime/input/input.h"
#include "runtime/term/term.h"
#include "runtime/stream/stream.h"

namespace {

constexpr std::size_t kInputContextSize = 48;
static_assert(sizeof(InputContext) <= kInputContextSize);

void release_input_context(void* data) {
  auto* context = static_cast<InputContext*>(data);
  delete context->line_text;
  context->line_text = nullptr;
  delete context->edit_memory;
  context->edit_memory = nullptr;
}

// Stores a new line text, releasing the storage of the previous one.
void replace_line_text(InputContext* context, std::string&& text) {
  std::string old = std::move(*context->line_text);
  *context->line_text = std::move(text);
}

// Whether standard input is a terminal, asked once: the descriptor cannot
// change during a run, and the answer decides every INPUT statement's path.
enum class StdinKind { Unknown, Terminal, Redirected };
constinit StdinKind stdin_kind = StdinKind::Unknown;

bool stdin_is_terminal() {
  if (stdin_kind == StdinKind::Unknown)
    stdin_kind = not_a_terminal(1) == 0 ? StdinKind::Terminal : StdinKind::Redirected;
  return stdin_kind == StdinKind::Terminal;
}

void install_console_read() {
  console_setup();
  OperationTable* table = console_operations();
  if (table->read == nullptr && !stdin_is_terminal()) table->read = stream_read;
}

// An open record serves as the source; a record that is not open counts as none.
FileRecord* open_source(InputContext* context) {
  FileRecord* source = context->source;
  return source != nullptr && source->operation_table != nullptr ? source : nullptr;
}

}  // namespace

InputContext* input_context() {
  auto* context = static_cast<InputContext*>(
      context_require(CONTEXT_INPUT, kInputContextSize, release_input_context));
  if (context->line_text == nullptr) context->line_text = new std::string();
  return context;
}

int not_a_terminal(int selector) { return isatty(selector != 0 ? STDIN_FILENO : STDOUT_FILENO) ? 0 : -1; }

int32_t input_start(std::optional<std::string_view> prompt, Question question, LineEnd line_end) {
  install_console_read();
  InputContext* context = input_context();
  context->read_position = 0;
  context->line_ended_input = false;
  replace_line_text(context, std::string());
  if (!stdin_is_terminal()) {
    context->source = console_record();
    return set_error(ERROR_NONE);
  }
  context->source = nullptr;
  term_refresh();
  std::string shown;  // what stands before the line
  if (prompt) {
    print_string(CONSOLE, *prompt, PRINT_LINE_OPEN);
    if (question == Question::Ask) print_text(CONSOLE, "? ", PRINT_LINE_OPEN);
    shown = std::string(*prompt) + (question == Question::Ask ? "? " : "");
  }
  if (context->edit_memory == nullptr) context->edit_memory = new EditMemory();  // the terminal path's alone
  LineEnding ending = LineEnding::Enter;
  std::string line = line_edit(EDIT_WITH_TERMINAL_CURSOR, &ending, shown, context->edit_memory);
  if (line_end == LineEnd::Print && ending != LineEnding::EnterEchoed) print_line_end(CONSOLE, PRINT_NEWLINE);
  context->line_ended_input = ending == LineEnding::EndOfInput;
  replace_line_text(context, std::move(line));
  return set_error(ERROR_NONE);
}

bool input_reached_end() { return input_context()->reached_end; }

int32_t stream_read(FileRecord*, void* destination, std::size_t* length) {
  const std::size_t wanted = *length;
  std::size_t delivered = 0;
  if (wanted == 1) {
    // The field scanner's one-byte reads: straight from the input block.
    const int byte = stream_input_byte();
    if (byte >= 0) {
      *static_cast<uint8_t*>(destination) = static_cast<uint8_t>(byte);
      delivered = 1;
    }
  } else {
    delivered = stream_input(destination, wanted);
  }
  if (delivered < wanted) std::memset(static_cast<uint8_t*>(destination) + delivered, 0, wanted - delivered);
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

int next_input_char(InputContext* context) {
  if (FileRecord* source = open_source(context)) {
    uint8_t byte = 0;
    std::size_t delivered = 0;
    if (file_read(source, &byte, 1, &delivered) != ERROR_NONE || delivered == 0) return END_OF_INPUT;
    return byte;
  }
  const std::string& line = *context->line_text;
  if (context->read_position < 0 || static_cast<std::size_t>(context->read_position) >= line.size())
    return END_OF_INPUT;
  return static_cast<unsigned char>(line[context->read_position++]);
}

void push_back_char(InputContext* context, int ch) {
  if (ch == END_OF_INPUT) return;
  if (FileRecord* source = open_source(context)) {
    const auto byte = static_cast<uint8_t>(ch);
    file_push_back(source, &byte, 1);
  } else if (context->read_position > 0) {
    --context->read_position;
  }
}
