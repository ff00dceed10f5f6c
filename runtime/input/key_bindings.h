// SPDX-License-Identifier: MIT
// What each key sequence does in each keymap: a command of the editor's
// table or a macro's keys. The defaults come from the table, the user's
// bindings from the inputrc on top. No I/O.
#pragma once

#include <map>
#include <span>
#include <vector>

#include "runtime/input/inputrc.h"
#include "runtime/term/keyboard/keys.h"

struct Command {
  int function = -1;       // the row of the editor's key table whose action it is, or
  std::vector<Key> macro;  // the keys a macro types
};

class KeyBindings {
 public:
  // Binds keys (one or more) in map, in place of what they did.
  void bind(Keymap map, std::vector<Key> keys, Command command);
  // What the keys typed so far are: a whole sequence with its command, the
  // start of longer ones, both, or neither.
  struct Found {
    const Command* whole = nullptr;
    bool longer = false;
  };
  Found find(Keymap map, std::span<const Key> keys) const;

 private:
  struct Before {  // keys in an order of their own; sequences by their keys in turn
    using is_transparent = void;
    bool operator()(std::span<const Key> a, std::span<const Key> b) const;
  };
  std::map<std::vector<Key>, Command, Before> maps_[3];
};
