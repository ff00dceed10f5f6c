// The line editor.
#include <cstdio>

#include "runtime/input/input.h"
#include "runtime/term/term.h"

namespace {

// Standard input is a terminal the program does not drive: the terminal's own
// line discipline edits and echoes; read up to the line feed.
std::string read_plain_line(bool* input_ended) {
  std::string line;
  int ch;
  while ((ch = std::getc(stdin)) != EOF && ch != '\n') line.push_back(static_cast<char>(ch));
  if (input_ended != nullptr) *input_ended = ch == EOF && line.empty();
  return line;
}

}  // namespace

std::string line_edit(int32_t, bool* input_ended) { return read_plain_line(input_ended); }
