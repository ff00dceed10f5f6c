// SPDX-License-Identifier: MIT
// INPUT start and the input sources: the console record, or the edited line.

#include "runtime/core/core.h"
#include "runtime/input/input_internal.h"
#include "runtime/term/term.h"

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

// Whether standard input is a terminal, as start-up found it: the answer
// decides every INPUT statement's path.
bool stdin_is_terminal(InputContext* context) {
  if (context->stdin_kind == StdinKind::Unknown) {
    context->stdin_kind =
        is_a_terminal(STANDARD_INPUT) ? StdinKind::Terminal : StdinKind::Redirected;
  }
  return context->stdin_kind == StdinKind::Terminal;
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

bool is_a_terminal(int selector) {
  return selector != 0 ? term_input_is_terminal() : term_output_is_terminal();
}

int32_t input_start(std::optional<std::string_view> prompt, Question question, LineEnd line_end) {
  InputContext* context = input_context();
  const bool terminal = stdin_is_terminal(context);
  if (!terminal) console_read_from_stream();  // on a terminal INPUT never reads through the record
  context->read_position = 0;
  context->line_ended_input = false;
  replace_line_text(context, std::string());
  if (!terminal) {
    context->source = console_record();
    return set_error(ERROR_NONE);
  }
  context->source = nullptr;
  if (context->edit_memory == nullptr) context->edit_memory = new EditMemory();  // the terminal path's alone
  std::string shown;  // what stands before the line
  {
    HeldOutput held;  // the line's modes and the prompt in one write
    term_refresh();
    // Bracketed paste is on before the prompt shows: a paste that follows
    // the prompt at once is still read as a paste.
    apply_terminal_settings(context->edit_memory->settings());
    term_line_keys_on();
    if (prompt) {
      print_string(CONSOLE, *prompt, PRINT_LINE_OPEN);
      if (question == Question::Ask) print_text(CONSOLE, "? ", PRINT_LINE_OPEN);
      shown = std::string(*prompt) + (question == Question::Ask ? "? " : "");
    }
  }
  LineEnding ending = LineEnding::Enter;
  std::string line = line_edit(EDIT_WITH_TERMINAL_CURSOR, &ending, shown, context->edit_memory);
  if (line_end == LineEnd::Print && ending != LineEnding::EnterEchoed) print_line_end(CONSOLE, PRINT_NEWLINE);
  context->line_ended_input = ending == LineEnding::EndOfInput;
  replace_line_text(context, std::move(line));
  return set_error(ERROR_NONE);
}

bool input_reached_end() { return input_context()->reached_end; }

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
