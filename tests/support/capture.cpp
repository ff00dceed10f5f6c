// SPDX-License-Identifier: MIT
#include "tests/support/capture.h"

#include <unistd.h>

#include "runtime/print/print_internal.h"
#include "runtime/term/term.h"
#include "runtime/stream/stream.h"

CapturedStdout::CapturedStdout() : file_(std::tmpfile()), saved_fd_(-1) {
  stream_flush();
  saved_fd_ = dup(STDOUT_FILENO);
  dup2(fileno(file_), STDOUT_FILENO);
}

CapturedStdout::~CapturedStdout() {
  stream_flush();
  dup2(saved_fd_, STDOUT_FILENO);
  close(saved_fd_);
  std::fclose(file_);
}

std::string CapturedStdout::text() {
  stream_flush();
  std::string result;
  char buffer[4096];
  std::rewind(file_);
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file_)) > 0) result.append(buffer, got);
  return result;
}

RedirectedInput::RedirectedInput(std::string bytes) : source(std::move(bytes)) {
  InputContext* context = input_context();
  context->source = &source.record;
  context->read_position = 0;
  context->line_ended_input = false;
  context->line_text->clear();
}

RedirectedInput::~RedirectedInput() { input_context()->source = nullptr; }

EditedLine::EditedLine(std::string line, bool ended_input) {
  InputContext* context = input_context();
  context->source = nullptr;
  context->read_position = 0;
  context->line_ended_input = ended_input;
  *context->line_text = std::move(line);
}

EditedLine::~EditedLine() { input_context()->line_text->clear(); }

void reset_console() {
  reset_file_records();
  *console_operations() = OperationTable{};
}
