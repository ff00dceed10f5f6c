// SPDX-License-Identifier: MIT
#include "runtime/input/key_prefix.h"

#include <algorithm>

#include "runtime/term/term.h"

namespace {

// The keys a prefix takes, as readline has them. Ctrl+X and Ctrl+V are the
// editor's bindings that start theirs; Ctrl+V then takes any key whatever.
enum class When { Always, Counting, AfterCtrlX };
using Meaning = KeyPrefix::Meaning;
struct PrefixBinding {
  int32_t first_key, last_key;  // Alt+1 to Alt+0 run in steps of 256
  When when;
  Meaning meaning;
};
constexpr PrefixBinding kPrefixBindings[] = {
    {KEY_ALT_1, KEY_ALT_0, When::Always, Meaning::Digit},           // starts or extends a count
    {'0', '9', When::Counting, Meaning::Digit},                     // extends one
    {KEY_ALT_MINUS, KEY_ALT_MINUS, When::Always, Meaning::Minus},   // negative before digits,
    {'-', '-', When::Counting, Meaning::Minus},                     // typed after them
    {ctrl_key('U'), ctrl_key('U'), When::AfterCtrlX, Meaning::Undo},
};

bool is_key_of(const PrefixBinding& row, int32_t code) {
  return code >= row.first_key && code <= row.last_key && (code <= 255 || (code & 0xFF) == 0xFF);
}

int digit_of(int32_t code) {
  if (code <= '9') return code - '0';
  return code == KEY_ALT_0 ? 0 : 1 + (code - KEY_ALT_1) / 256;
}

}  // namespace

KeyPrefix::Taken KeyPrefix::take(int32_t code) {
  if (quoting_) {  // Ctrl+V takes the next key whatever it is, Alt+digits too
    quoting_ = false;
    return Taken::Quoted;
  }
  for (const PrefixBinding& row : kPrefixBindings) {
    const bool applies = row.when == When::Always || (row.when == When::Counting && counting_) ||
                         (row.when == When::AfterCtrlX && after_ctrl_x_);
    if (applies && is_key_of(row, code)) return take_as(row.meaning, code);
  }
  if (after_ctrl_x_) return end_ctrl_x(Taken::Yes);  // Ctrl+X with anything else is nothing
  return Taken::No;
}

KeyPrefix::Taken KeyPrefix::take_as(Meaning meaning, int32_t code) {
  switch (meaning) {
    case Meaning::Digit:
      counting_ = true;
      count_ = std::min(count_.value_or(0) * 10 + digit_of(code), kMostCount);
      return Taken::Yes;
    case Meaning::Minus:
      if (count_) return Taken::Minus;  // after digits, - ends the count and is typed
      counting_ = negative_ = true;     // before them it makes the count negative, once
      return Taken::Yes;
    case Meaning::Undo:
      return end_ctrl_x(Taken::Undo);
  }
  return Taken::No;
}

// Ctrl+X has had its second key; a count typed before it is spent.
KeyPrefix::Taken KeyPrefix::end_ctrl_x(Taken taken) {
  after_ctrl_x_ = false;
  take_count();
  return taken;
}

KeyPrefix::Count KeyPrefix::take_count() {
  const Count count{count_.value_or(1) * (negative_ ? -1 : 1), counting_};  // Alt+0: 0, as readline's
  count_.reset();
  counting_ = negative_ = false;
  return count;
}

std::optional<int> KeyPrefix::shown_count() const {
  if (!counting_) return std::nullopt;
  return count_.value_or(1) * (negative_ ? -1 : 1);
}
