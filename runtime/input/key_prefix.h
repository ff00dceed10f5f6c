// SPDX-License-Identifier: MIT
// What keys before a key started, as readline has them: a count typed with
// Alt+digits and Alt+- (then plain digits and -), Ctrl+V waiting for a key
// to put in as it is. No I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "runtime/term/keyboard/keys.h"

class KeyPrefix {
 public:
  // What became of a key: not taken (it acts as usual), taken by the
  // prefix, a key to put in as it is after Ctrl+V, or a - that ends a count
  // of digits and is typed as many times.
  enum class Taken { No, Yes, Quoted, Minus };
  // What a key of a prefix does (the table in key_prefix.cpp): a digit of a count, or its minus.
  enum class Meaning { Digit, Minus };
  // A count larger than this is taken as this (readline's is larger; a line
  // of this many repeated keys is plenty).
  static constexpr int kMostCount = 100000;
  // A count: 1 when none was given (given false); Alt+- alone is -1.
  struct Count {
    int value = 1;
    bool given = false;
  };

  Taken take(const Key& key);
  // Which keys make a count: Alt+digits in emacs mode, digits in vi's command mode, none in its insert mode.
  enum class Mode : uint8_t { Emacs, ViInsert, ViCommand };
  void set_mode(Mode mode) { mode_ = mode; }
  // A count as if typed (vi's . repeating a change with the count it had).
  void set_count(Count count) {
    counting_ = count.given;
    count_ = count.value < 0 ? -count.value : count.value;
    negative_ = count.value < 0;
  }
  // Ctrl+V: the next key goes in as it is, count times.
  void start_quoting(Count count) {
    quoting_ = true;
    quote_count_ = count;
  }
  // The count typed before a key, forgotten once taken.
  Count take_count();
  // The count Ctrl+V was given, for the key it puts in.
  Count take_quote_count() { return std::exchange(quote_count_, Count{}); }
  // Whether a typed character would be taken by the prefix or repeated by a count.
  bool active() const { return counting_ || quoting_; }
  // The count being typed, as readline shows it in place of the prompt.
  std::optional<int> shown_count() const;

 private:
  Taken take_as(Meaning meaning, const Key& key);

  Mode mode_ = Mode::Emacs;
  bool counting_ = false;      // a count is being typed
  std::optional<int> count_;   // its digits so far
  bool negative_ = false;
  bool quoting_ = false;
  Count quote_count_;
};
