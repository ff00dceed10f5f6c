// SPDX-License-Identifier: MIT
#include "runtime/input/key_bindings.h"

#include <algorithm>
#include <tuple>

namespace {

auto order_of(const Key& key) { return std::tuple(key.name, key.modifiers, key.code); }

}  // namespace

bool KeyBindings::Before::operator()(std::span<const Key> a, std::span<const Key> b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](const Key& x, const Key& y) { return order_of(x) < order_of(y); });
}

void KeyBindings::bind(Keymap map, std::vector<Key> keys, Command command) {
  if (keys.empty()) return;
  maps_[static_cast<int>(map)].insert_or_assign(std::move(keys), std::move(command));
}

KeyBindings::Found KeyBindings::find(Keymap map, std::span<const Key> keys) const {
  const auto& bound = maps_[static_cast<int>(map)];
  Found found;
  auto at = bound.lower_bound(keys);
  const auto begins_with_keys = [&keys](const std::vector<Key>& sequence) {
    return sequence.size() >= keys.size() && std::equal(keys.begin(), keys.end(), sequence.begin());
  };
  if (at != bound.end() && at->first.size() == keys.size() && begins_with_keys(at->first)) found.whole = &(at++)->second;
  // The sequences that begin with these keys come right after them in this order.
  found.longer = at != bound.end() && begins_with_keys(at->first);
  return found;
}
