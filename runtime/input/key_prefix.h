// SPDX-License-Identifier: MIT
// What keys before a key started, as readline has them: a count typed with
// Alt+digits and Alt+- (then plain digits), Ctrl+X waiting for its second
// key, Ctrl+V waiting for a key to put in as it is. No I/O.
#pragma once

#include <cstdint>
#include <optional>

class KeyPrefix {
 public:
  // What became of a key: not taken (it acts as usual), taken by the prefix,
  // Ctrl+U after Ctrl+X (undo), or a key to put in as it is after Ctrl+V.
  enum class Taken { No, Yes, Undo, Quoted };
  // A count larger than this is taken as this (readline's is larger; a line
  // of this many repeated keys is plenty).
  static constexpr int kMostCount = 100000;

  Taken take(int32_t code);
  void start_ctrl_x() { after_ctrl_x_ = true; }
  void start_quoting() { quoting_ = true; }
  // The count typed before a key (1 if none: Alt+- alone is -1), forgotten once taken.
  int take_count();
  // Whether a typed character would be taken by the prefix or repeated by a count.
  bool active() const { return counting_ || after_ctrl_x_ || quoting_; }

 private:
  bool counting_ = false;      // a count is being typed
  std::optional<int> count_;   // its digits so far
  bool negative_ = false;
  bool after_ctrl_x_ = false;
  bool quoting_ = false;
};
