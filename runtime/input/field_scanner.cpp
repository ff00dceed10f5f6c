// SPDX-License-Identifier: MIT
// The field scanner: one field of INPUT, with its rules for blanks, commas,
// quotes and line ends.
#include "runtime/input/input_internal.h"

namespace {

// A CR ends a line alone or as CR LF: consume the LF, hand anything else back.
void finish_carriage_return(InputContext* context) {
  const int next = next_input_char(context);
  if (next != '\n') push_back_char(context, next);
}

// What follows a field that ended on a blank, a tab or the length limit.
void after_field(InputContext* context, int ch) {
  while (is_blank(ch)) ch = next_input_char(context);
  if (ch == '\r') {
    finish_carriage_return(context);
  } else if (ch != '\n' && ch != ',' && ch != END_OF_INPUT) {
    push_back_char(context, ch);  // it begins the next field
  }
}

struct ScanState {
  char* destination;
  int32_t length = 0;
  bool in_quotes = false;
  bool after_ampersand = false;
  bool float_mark = false;

  void store(int ch) { destination[length++] = static_cast<char>(ch); }
};

enum class Step { Continue, End, EndWithAfterField };

// Takes one character of the field loop: stores it, switches quoting, or ends the field.
Step take_char(InputContext* context, ScanState& state, int ch) {
  switch (ch) {
    case ',':
      if (state.in_quotes) break;
      return Step::End;
    case '\n':
      return Step::End;
    case '\r':
      finish_carriage_return(context);
      return Step::End;
    case '"':
      if (state.in_quotes) {
        state.in_quotes = false;
        return Step::Continue;
      }
      if (state.length == 0) {
        state.in_quotes = true;
        return Step::Continue;
      }
      break;
    case ' ':
    case '\t':
      if (state.in_quotes) break;
      return Step::EndWithAfterField;
    case '&':
      state.after_ampersand = true;
      break;
    case 'd':
    case 'D':
      if (!state.after_ampersand) {
        state.float_mark = true;
        ch = as_exponent_letter(static_cast<char>(ch));
      }
      break;
    case '.':
    case 'e':
    case 'E':
      if (!state.after_ampersand) state.float_mark = true;
      break;
    default:
      break;
  }
  state.store(ch);
  return Step::Continue;
}

}  // namespace

FieldScan scan_field(InputContext* context, char* destination, int32_t limit) {
  ScanState state{destination};
  int ch = next_input_char(context);
  // Nothing at all left: on a terminal only when the line editor met the end.
  const bool nothing_left = ch == END_OF_INPUT &&
                            (context->source != nullptr || context->line_ended_input);
  while (is_blank(ch)) ch = next_input_char(context);

  while (ch != END_OF_INPUT) {
    const Step step = take_char(context, state, ch);
    if (step == Step::End) break;
    if (step == Step::EndWithAfterField) {
      after_field(context, ch);
      break;
    }
    ch = next_input_char(context);
    if (ch != END_OF_INPUT && state.length >= limit) {
      after_field(context, ch);
      break;
    }
  }
  destination[state.length] = '\0';
  return FieldScan{state.length, state.float_mark, nothing_left};
}
