// SPDX-License-Identifier: MIT
#include "runtime/input/key_prefix.h"

#include <algorithm>

#include "runtime/term/term.h"

namespace {

// The keys a prefix takes, as readline has them: in emacs mode Alt with the
// digits and -, in vi's command mode the digits alone (0 after another).
// Ctrl+V is the editor's binding that starts its own; it then takes any key
// whatever.
enum class When { Always, Counting, ViCommand, ViCounting };
using Meaning = KeyPrefix::Meaning;
struct PrefixBinding {
  Key first_key, last_key;  // a run of byte keys with the same modifiers
  When when;
  Meaning meaning;
};
constexpr PrefixBinding kPrefixBindings[] = {
    {alt(text_key('0')), alt(text_key('9')), When::Always, Meaning::Digit},  // starts or extends a count
    {text_key('0'), text_key('9'), When::Counting, Meaning::Digit},          // extends one
    {alt(text_key('-')), alt(text_key('-')), When::Always, Meaning::Minus},  // negative before digits,
    {text_key('-'), text_key('-'), When::Counting, Meaning::Minus},          // typed after them
    {text_key('1'), text_key('9'), When::ViCommand, Meaning::Digit},
    {text_key('0'), text_key('9'), When::ViCounting, Meaning::Digit},
};

bool is_key_of(const PrefixBinding& row, const Key& key) {
  return key.name == row.first_key.name && key.modifiers == row.first_key.modifiers && !key.pasted &&
         key.code >= row.first_key.code && key.code <= row.last_key.code;
}

int digit_of(const Key& key) { return static_cast<int>(key.code) - '0'; }

}  // namespace

KeyPrefix::Taken KeyPrefix::take(const Key& key) {
  if (quoting_) {  // Ctrl+V takes the next key whatever it is, Alt+digits too
    quoting_ = false;
    return Taken::Quoted;
  }
  for (const PrefixBinding& row : kPrefixBindings) {
    const bool vi = mode_ != Mode::Emacs;
    const bool applies = vi ? mode_ == Mode::ViCommand && (row.when == When::ViCommand ||
                                                           (row.when == When::ViCounting && counting_))
                            : row.when == When::Always || (row.when == When::Counting && counting_);
    if (applies && is_key_of(row, key)) return take_as(row.meaning, key);
  }
  return Taken::No;
}

KeyPrefix::Taken KeyPrefix::take_as(Meaning meaning, const Key& key) {
  switch (meaning) {
    case Meaning::Digit:
      counting_ = true;
      count_ = std::min(count_.value_or(0) * 10 + digit_of(key), kMostCount);
      return Taken::Yes;
    case Meaning::Minus:
      if (count_) return Taken::Minus;  // after digits, - ends the count and is typed
      counting_ = negative_ = true;     // before them it makes the count negative, once
      return Taken::Yes;
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
