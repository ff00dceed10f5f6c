// SPDX-License-Identifier: MIT
#include "runtime/input/key_prefix.h"

#include <algorithm>

#include "runtime/term/term.h"

KeyPrefix::Taken KeyPrefix::take(int32_t code) {
  const bool alt_digit = code >= KEY_ALT_1 && code <= KEY_ALT_0 && (code & 0xFF) == 0xFF;
  if (alt_digit || code == KEY_ALT_MINUS || (counting_ && code >= '0' && code <= '9')) {
    counting_ = true;
    if (code == KEY_ALT_MINUS) {
      negative_ = !negative_;
    } else {
      const int digit = code <= '9' ? code - '0' : (code == KEY_ALT_0 ? 0 : 1 + (code - KEY_ALT_1) / 256);
      count_ = std::min(count_.value_or(0) * 10 + digit, kMostCount);
    }
    return Taken::Yes;
  }
  if (after_ctrl_x_) {  // Ctrl+X Ctrl+U undoes; Ctrl+X with anything else is nothing
    after_ctrl_x_ = false;
    take_count();
    return code == 'U' - '@' ? Taken::Undo : Taken::Yes;
  }
  if (quoting_) {  // the key goes in as it is (its count still to be taken)
    quoting_ = false;
    return Taken::Quoted;
  }
  return Taken::No;
}

int KeyPrefix::take_count() {
  const int count = count_.value_or(1) * (negative_ ? -1 : 1);
  count_.reset();
  counting_ = negative_ = false;
  return count == 0 ? 1 : count;
}
