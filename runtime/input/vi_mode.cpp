// SPDX-License-Identifier: MIT
// vi mode, as readline's: an insert mode that types, and a command mode
// whose keys move (h l w b e W B E 0 ^ $ | f F t T ; , %), change (x X r R
// ~ p P s S D C, and the operators d c y with a motion, a count or doubled),
// undo (u U), repeat the last change (.), enter insert mode (i a I A), and
// walk and search the prompt's history (k j G / ? n N). The motions follow
// readline's own: on a line with a blank after its end while an operator
// reads them, so that a motion can reach past the last character.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "runtime/input/line_editor.h"
#include "runtime/term/term.h"

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }
// A letter, a digit or _ (a byte past ASCII is taken as a letter).
bool ident(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80; }

}  // namespace

// --- The line with a blank after its end ------------------------------------------------

char LineEditor::vi_char(std::size_t at) const { return at < line_.size() ? line_[at] : ' '; }
std::size_t LineEditor::vi_next(std::size_t at) const { return at < line_.size() ? next_unit(at) : at + 1; }
std::size_t LineEditor::vi_prev(std::size_t at) {
  return at > line_.size() ? line_.size() : view_.unit_before(line_, at);
}

// --- Motions --------------------------------------------------------------------------

// Where a motion key takes the cursor from at, count times, within end (the
// line's length, or one past it while an operator reads the motion); nullopt
// when it is no motion or finds nothing.
std::optional<std::size_t> LineEditor::vi_motion(const Key& key, int count, std::size_t at, std::size_t end) {
  if (key.name != KeyName::Byte || key.modifiers != 0) return std::nullopt;  // readline's motions are letters alone
  const char c = static_cast<char>(key.code);
  const bool big = std::isupper(static_cast<unsigned char>(c)) != 0;
  switch (c) {
    case 'h':
      for (int i = 0; i < count && at > 0; ++i) at = vi_prev(at);
      return at;
    case 'l':
    case ' ':
      for (int i = 0; i < count && vi_next(at) < end; ++i) at = vi_next(at);
      return at;
    case 'w':
    case 'W':
      return vi_word_forward(at, count, end, big);
    case 'b':
    case 'B':
      return vi_word_back(at, count, big);
    case 'e':
    case 'E':
      return vi_word_end(at, count, end, big);
    case '0':
      return 0;
    case '^':
      return vi_first_nonblank();
    case '$':
      return line_.size();
    case '|':
      for (at = 0; --count > 0 && at < line_.size();) at = next_unit(at);
      return at;
    case '%':
      return vi_matching();
    case ';':
    case ',':
      if (!state_.vi_last_search) return at;  // a motion still, that goes nowhere (c then types)
      return character_target(state_.vi_last_search->key, count, state_.vi_last_search->backward != (c == ','),
                              state_.vi_last_search->till);
  }
  return std::nullopt;
}

std::size_t LineEditor::vi_word_forward(std::size_t at, int count, std::size_t end, bool big) {
  for (; count-- > 0 && vi_next(at) < end;) {
    if (big) {
      while (at < end && !blank(vi_char(at))) at = vi_next(at);
    } else if (ident(vi_char(at))) {
      while (at < end && ident(vi_char(at))) at = vi_next(at);
    } else {
      while (at < end && !ident(vi_char(at)) && !blank(vi_char(at))) at = vi_next(at);
    }
    while (at < end && blank(vi_char(at))) at = vi_next(at);
  }
  return at;
}

std::size_t LineEditor::vi_word_back(std::size_t at, int count, bool big) {
  for (; count-- > 0 && at > 0;) {
    if (!blank(vi_char(at)) && blank(vi_char(vi_prev(at)))) at = vi_prev(at);
    if (!big && ident(vi_char(at)) != ident(vi_char(vi_prev(at)))) at = vi_prev(at);  // "l;": two words
    while (at > 0 && blank(vi_char(at))) at = vi_prev(at);
    if (at == 0) break;
    const bool word = ident(vi_char(at));
    for (;;) {
      if (at == 0) break;
      const char before = vi_char(vi_prev(at));
      const bool same = big ? !blank(before) : (word ? ident(before) : !ident(before) && !blank(before));
      if (!same) break;
      at = vi_prev(at);
    }
  }
  return at;
}

std::size_t LineEditor::vi_word_end(std::size_t at, int count, std::size_t end, bool big) {
  for (; count-- > 0 && vi_next(at) < end;) {
    if (!blank(vi_char(at))) at = vi_next(at);
    while (at < end && blank(vi_char(at))) at = vi_next(at);
    if (at == 0 || at >= end) continue;
    const bool word = ident(vi_char(at));
    do {
      at = vi_next(at);
    } while (at < end && (big ? !blank(vi_char(at)) : (word ? ident(vi_char(at)) : !ident(vi_char(at)) && !blank(vi_char(at)))));
    at = vi_prev(at);
  }
  return at;
}

std::size_t LineEditor::vi_first_nonblank() const {
  std::size_t at = 0;
  while (at < line_.size() && blank(line_[at])) ++at;
  return at;
}

// %: the bracket that matches the one under the cursor, or the first one after it.
std::optional<std::size_t> LineEditor::vi_matching() {
  static constexpr std::string_view kOpen = "([{", kClose = ")]}";
  std::size_t at = position_;
  while (at < line_.size() && kOpen.find(line_[at]) == kOpen.npos && kClose.find(line_[at]) == kClose.npos) ++at;
  if (at >= line_.size()) return std::nullopt;
  const bool opening = kOpen.find(line_[at]) != kOpen.npos;
  const char self = line_[at];
  const char other = opening ? kClose[kOpen.find(self)] : kOpen[kClose.find(self)];
  int depth = 0;
  for (std::size_t i = at;;) {
    if (line_[i] == self) ++depth;
    if (line_[i] == other && --depth == 0) return i;
    if (opening ? ++i >= line_.size() : i-- == 0) return std::nullopt;
  }
}

// --- Modes ------------------------------------------------------------------------------

void LineEditor::enter_vi_insert() {
  state_.keymap = Keymap::ViInsert;
  state_.prefix.set_mode(KeyPrefix::Mode::ViInsert);
  state_.vi_insert_from = undo_.changes();
}

// Escape: command mode, the cursor back one; what the insertion typed is one undo step.
void LineEditor::vi_movement_mode() {
  if (state_.keymap != Keymap::ViInsert) return;
  insert_typed();
  undo_.join_from(state_.vi_insert_from);
  overwrite_ = false;
  state_.keymap = Keymap::ViCommand;
  state_.prefix.set_mode(KeyPrefix::Mode::ViCommand);
  if (position_ > 0) move_to(view_.unit_before(line_, position_));
  // The first time in command mode the line as typed becomes what u and U go back to, as POSIX has it.
  if (!state_.vi_command_once) undo_.clear();
  state_.vi_command_once = true;
  if (state_.vi_recording) vi_change_done();
}

void LineEditor::vi_insertion_mode() { vi_begin_insert(); }
void LineEditor::vi_append_mode() {
  if (position_ < line_.size()) move_to(next_unit(position_));
  vi_begin_insert();
}
void LineEditor::vi_insert_beg() {
  move_to(0);
  vi_begin_insert();
}
void LineEditor::vi_append_eol() {
  move_to(line_.size());
  vi_begin_insert();
}
// An insertion begun from command mode is part of the change that . repeats, up to its Escape.
void LineEditor::vi_begin_insert() {
  enter_vi_insert();
  if (state_.vi_recording) state_.vi_recording_insert = true;
}

// The mode chosen stays for the lines after this one, as readline's.
void LineEditor::vi_editing_mode() {
  settings_->vi = true;
  enter_vi_insert();
}
void LineEditor::emacs_editing_mode() {
  settings_->vi = false;
  state_.keymap = Keymap::Emacs;
  state_.prefix.set_mode(KeyPrefix::Mode::Emacs);
}

// Keeps the cursor on a character in command mode, as vi does: never past the last.
void LineEditor::vi_keep_on_a_character() {
  if (std::exchange(state_.vi_past_end, false)) return;
  if (state_.keymap == Keymap::ViCommand && position_ > 0 && position_ >= line_.size())
    move_to(view_.unit_before(line_, line_.size()));
}

// --- Repeating the last change ------------------------------------------------------------

// A command key in command mode starts what may be a change: its keys are
// kept until it ends, and kept for . if it changed the line.
void LineEditor::vi_start_recording(const Key& key, Count count) {
  if (vi_replaying_) return;
  state_.vi_recording = true;
  state_.vi_recording_insert = false;
  state_.vi_keys.assign(1, key);
  state_.vi_keys_count = count;
}
void LineEditor::vi_change_done() {
  if (vi_replaying_ || !state_.vi_recording) return;
  state_.vi_recording = state_.vi_recording_insert = false;
  state_.vi_redo = state_.vi_keys;
  state_.vi_redo_count = state_.vi_keys_count;
}
void LineEditor::vi_redo(Count count) {
  if (state_.vi_redo.empty()) return ring_bell();
  state_.vi_recording = false;
  vi_replaying_ = true;
  const Count times = count.given ? count : state_.vi_redo_count;
  const std::vector<Key> keys = state_.vi_redo;
  const Key first = keys.front();
  if (first == text_key('i') || first == text_key('a') || first == text_key('I') || first == text_key('A')) {
    // An insertion: its text, count times.
    const bool ended = keys.size() > 1 && keys.back() == named_key(KeyName::Escape);
    const std::vector<Key> text(keys.begin() + 1, keys.end() - (ended ? 1 : 0));
    run_macro({first});
    if (text.empty()) {  // nothing was typed: as readline, the command alone, insert mode left on
      vi_replaying_ = false;
      return;
    }
    for (int i = 0; i < std::min(std::max(times.value, 1), KeyPrefix::kMostCount); ++i) run_macro(text);
    if (ended) run_macro({keys.back()});
  } else {
    state_.prefix.set_count(times);
    run_macro(keys);
  }
  vi_replaying_ = false;
  if (state_.keymap == Keymap::ViInsert) vi_movement_mode();  // a change that ended in insert mode
}

// --- Changes --------------------------------------------------------------------------------

// x and X: count characters under or before the cursor, into the kill ring.
void LineEditor::vi_delete(Count count) {
  if (line_.empty()) return ring_bell();
  std::size_t to = position_;
  for (int i = 0; i < count.value && to < line_.size(); ++i) to = next_unit(to);
  kill(position_, to, false);
  vi_change_done();
}
void LineEditor::vi_rubout(Count count) {
  if (position_ == 0) return ring_bell();
  std::size_t from = position_;
  for (int i = 0; i < count.value && from > 0; ++i) from = view_.unit_before(line_, from);
  kill(from, position_, true);
  vi_change_done();
}

// r: count characters from the cursor (those there are) become the key's, the cursor on the last.
void LineEditor::vi_change_char(const Key& key, Count count) {
  const std::string character = character_of(key);
  if (character.empty()) return;  // Escape or another key: nothing
  std::size_t to = position_;
  int units = 0;  // as many as there are, up to the count, as readline's
  for (; units < count.value && to < line_.size(); ++units) to = next_unit(to);
  if (units == 0) return ring_bell();
  std::string text;
  for (int i = 0; i < units; ++i) text += character;
  undo_.open_group();
  replace(position_, to, text, position_ + text.size() - character.size());
  undo_.end_group();
  vi_change_done();
}

// R: insert mode that types over the line.
void LineEditor::vi_replace() {
  vi_begin_insert();
  overwrite_ = true;
}

// ~: count characters change case, the cursor past them.
void LineEditor::vi_change_case(Count count) {
  if (line_.empty()) return;
  std::size_t to = position_;
  for (int i = 0; i < count.value && to < line_.size(); ++i) to = next_unit(to);
  const std::string_view text = std::string_view(line_).substr(position_, to - position_);
  std::string swapped;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    swapped += static_cast<char>(std::isupper(u) ? std::tolower(u) : (std::islower(u) ? std::toupper(u) : u));
  }
  replace(position_, to, swapped, to);
  vi_change_done();
}

// p and P: the newest kill after or before the cursor, the cursor on its last character.
void LineEditor::vi_put(Count count) {
  if (current_key_ == text_key('p') && position_ < line_.size()) move_to(next_unit(position_));
  if (kills_->empty()) {  // the cursor stays moved, past the end even, as readline's
    state_.vi_past_end = true;
    return ring_bell();
  }
  undo_.open_group();
  for (int i = 0; i < std::min(count.value, KeyPrefix::kMostCount); ++i) insert(kills_->newest());
  undo_.end_group();
  if (position_ > 0) move_to(view_.unit_before(line_, position_));
  vi_change_done();
}

void LineEditor::vi_undo(Count count) {
  undo_times(count);
  vi_keep_on_a_character();
}

// s: count characters, S: the whole line, replaced by what is typed next.
void LineEditor::vi_subst(Count count) {
  if (current_key_ == text_key('S')) return vi_operate('c', text_key('c'), {1, false}, count);
  vi_operate('c', text_key('l'), {1, false}, count);
}

// d, c and y read a motion (with its own count, or the same key for the
// whole line); D, C and Y are theirs to the end of the line.
void LineEditor::vi_operator(Count count) {
  const char key = static_cast<char>(current_key_.code);
  const char op = static_cast<char>(std::tolower(static_cast<unsigned char>(key)));
  if (key != op) return vi_operate(op, text_key('$'), {1, false}, count);
  state_.vi_pending = ViPending{op, count, 0, 0};
}

// A key while an operator waits for its motion: digits of a count, a motion,
// a character for f F t T; anything else cancels it.
void LineEditor::vi_pending_key(const Key& key) {
  ViPending& pending = *state_.vi_pending;
  if (pending.search != 0) {
    const char search = std::exchange(pending.search, '\0');
    const bool backward = search == 'F' || search == 'T', till = search == 't' || search == 'T';
    state_.vi_last_search = ViSearch{key, backward, till};
    return vi_finish_pending(text_key(';'));
  }
  if (key.name == KeyName::Byte && key.modifiers == 0 && key.code >= '0' && key.code <= '9' &&
      (key.code != '0' || pending.motion_count > 0)) {
    pending.motion_count = std::min(pending.motion_count * 10 + static_cast<int>(key.code - '0'), KeyPrefix::kMostCount);
    return;
  }
  if (key.name == KeyName::Byte && key.modifiers == 0 && std::strchr("fFtT", static_cast<int>(key.code)) != nullptr &&
      key.code != 0) {
    pending.search = static_cast<char>(key.code);
    return;
  }
  vi_finish_pending(key);
}
void LineEditor::vi_finish_pending(const Key& motion) {
  const ViPending pending = *state_.vi_pending;
  state_.vi_pending.reset();
  const Count motion_count{std::max(pending.motion_count, 1), pending.motion_count > 0};
  vi_operate(pending.op, motion, motion_count, pending.count);
}

// The operator over the text between the cursor and where the motion takes
// it, as readline's: w and W stop before the next word, cw changes to the
// word's end, motions forward but l, and f, t, e, $ ... take the character
// they stop on; the doubled key takes the whole line.
void LineEditor::vi_operate(char op, const Key& motion, Count motion_count, Count count) {
  const std::size_t start = position_;
  std::size_t from = 0, to = line_.size();
  const int times = std::min(motion_count.value * std::max(count.value, 1), KeyPrefix::kMostCount);
  const char m = motion.name == KeyName::Byte && motion.modifiers == 0 ? static_cast<char>(motion.code) : '\0';
  if (m != op) {
    const std::optional<std::size_t> target = vi_motion(motion, times, start, line_.size() + 1);
    const char* exclusive = op == 'y' ? " l|h^0%bBFT" : " l|h^0bBFT";
    const bool backward_search = (m == ';' || m == ',') && state_.vi_last_search &&
                                 state_.vi_last_search->backward != (m == ',');
    const bool inclusive = std::strchr(exclusive, m) == nullptr && !backward_search;
    // c over a character search that finds nothing still changes, as readline's.
    const bool character_search = m != '\0' && std::strchr("fFtT;,", m) != nullptr;
    if (!target && !(op == 'c' && character_search)) return ring_bell();
    std::size_t point = target ? std::min(*target, line_.size()) : start;
    if (point == start) {
      if (op != 'c') return;
      // Going nowhere, c still takes the character under the cursor where the
      // motion would have taken the one it stops on (f t ; , and $, not F T h 0).
      if (!inclusive || start >= line_.size()) return vi_begin_insert();
    }
    const bool word = m == 'w' || m == 'W';
    if (word && point < line_.size() && point > start && !blank(line_[point])) point = vi_prev(point);
    bool at_start = false;  // cw from a word's last character or a blank: that alone
    if (op == 'c' && word && point >= start) {
      while (point > start && blank(vi_char(point))) point = vi_prev(point);
      at_start = point == start;
      if (at_start) point = vi_next(point);
    }
    from = std::min(point, start);
    to = std::max(point, start);
    if (inclusive && !at_start && to < line_.size()) to = next_unit(to);
  }
  if (op == 'y') {
    copy_to_kills(from, to, false);
    move_to(std::min(start, from == to ? start : from));
    if (m == op || from >= start) move_to(start);
    return vi_keep_on_a_character();
  }
  undo_.open_group();
  kill(from, to, false);
  undo_.end_group();
  if (op == 'c') return vi_begin_insert();
  vi_keep_on_a_character();
  vi_change_done();
}

// f F t T wait for their character; ; and , repeat the last such search, the way turned round by ,.
void LineEditor::vi_char_search(Count count) {
  const char c = static_cast<char>(current_key_.code);
  if (c == ';' || c == ',') {
    if (const auto target = vi_motion(current_key_, count.value, position_, line_.size())) move_to(*target);
    return;
  }
  state_.vi_search_key = c;
  await_key(Awaited::ViCharacter, count);
}
void LineEditor::vi_search_character(const Key& key, Count count) {
  const char c = state_.vi_search_key;
  state_.vi_last_search = ViSearch{key, c == 'F' || c == 'T', c == 't' || c == 'T'};
  if (const auto target = character_target(key, count.value, state_.vi_last_search->backward, state_.vi_last_search->till))
    move_to(*target);
}

void LineEditor::vi_column(Count count) {
  if (const auto target = vi_motion(text_key('|'), count.value, position_, line_.size())) move_to(*target);
  vi_keep_on_a_character();
}
void LineEditor::vi_match() {
  if (const auto target = vi_matching()) return move_to(*target);
  ring_bell();
}
void LineEditor::vi_first_print() { move_to(vi_first_nonblank()); }
void LineEditor::vi_forward_word() { move_to(vi_word_forward(position_, 1, line_.size(), false)); }
void LineEditor::vi_forward_bigword() { move_to(vi_word_forward(position_, 1, line_.size(), true)); }
void LineEditor::vi_backward_word() { move_to(vi_word_back(position_, 1, false)); }
void LineEditor::vi_backward_bigword() { move_to(vi_word_back(position_, 1, true)); }
void LineEditor::vi_end_word() { move_to(vi_word_end(position_, 1, line_.size(), false)); }
void LineEditor::vi_end_bigword() { move_to(vi_word_end(position_, 1, line_.size(), true)); }

// G: the history line a count numbers (from 1, the oldest), else the oldest.
void LineEditor::vi_fetch_history(Count count) {
  if (!count.given) return recall_first();
  if (count.value < 1 || static_cast<std::size_t>(count.value) >= history_.size()) return ring_bell();
  recall(static_cast<std::size_t>(count.value) - 1);
}

// Ctrl+D: on an empty line the end (as everywhere), else the line is taken.
void LineEditor::vi_eof_maybe() { end_line(); }
