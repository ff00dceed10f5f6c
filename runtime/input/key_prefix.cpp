// SPDX-License-Identifier: MIT
#include "runtime/input/key_prefix.h"

#include <algorithm>

#include "runtime/term/term.h"

KeyPrefix::Taken KeyPrefix::take(int32_t code) {
  if (quoting_) {  // Ctrl+V takes the next key whatever it is, Alt+digits too
    quoting_ = false;
    return Taken::Quoted;
  }
  const bool alt_digit = code >= KEY_ALT_1 && code <= KEY_ALT_0 && (code & 0xFF) == 0xFF;
  if (alt_digit || (counting_ && code >= '0' && code <= '9')) {
    counting_ = true;
    const int digit = code <= '9' ? code - '0' : (code == KEY_ALT_0 ? 0 : 1 + (code - KEY_ALT_1) / 256);
    count_ = std::min(count_.value_or(0) * 10 + digit, kMostCount);
    return Taken::Yes;
  }
  if (code == KEY_ALT_MINUS || (counting_ && code == '-')) {
    if (count_) return Taken::Minus;  // after digits, - ends the count and is typed
    counting_ = negative_ = true;     // before them it makes the count negative, once
    return Taken::Yes;
  }
  if (after_ctrl_x_) {  // Ctrl+X Ctrl+U undoes; Ctrl+X with anything else is nothing
    after_ctrl_x_ = false;
    take_count();
    return code == ctrl_key('U') ? Taken::Undo : Taken::Yes;
  }
  return Taken::No;
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
