// SPDX-License-Identifier: MIT
// The line editor's commands: moving, typing, deleting and killing,
// yanking, transposing, changing case, undoing. Each changes the line and
// the cursor's place in it through replace(), which keeps the undo list and
// tells the view where the line changed; the screen is drawn later, once.
#include <algorithm>
#include <cstdlib>

#include "runtime/input/line_editor.h"
#include "runtime/term/term.h"

namespace {

constexpr int kTabStop = 8;

}  // namespace

void LineEditor::replace(std::size_t from, std::size_t to, std::string_view text, std::size_t position, bool typed) {
  undo_.record(from, std::string_view(line_).substr(from, to - from), text, position_, typed, term_text_utf8());
  const bool at_unit_start = view_.unit_holding(line_, from) == from;  // in the line as it was
  line_.replace(from, to - from, text);
  view_.changed(line_, from, to - from, text.size(), at_unit_start);
  // Bytes that joined the ones after them into one character (a UTF-8
  // sequence completed, a mark): the cursor goes after it.
  const std::size_t unit = view_.unit_holding(line_, position);
  position_ = unit == position ? position : unit + text_unit_at(line_, unit).length;
}

// --- Moving -------------------------------------------------------------------------

// A place inside a unit (a search's match that begins with a mark) is the unit's.
void LineEditor::move_to(std::size_t position) {
  position_ = view_.unit_holding(line_, position);
  cursor_moved_ = true;
}

void LineEditor::move_home() { move_to(0); }
void LineEditor::move_end() { move_to(line_.size()); }
void LineEditor::move_left() {
  if (position_ > 0) move_to(view_.unit_before(line_, position_));
}
void LineEditor::move_right() {
  if (position_ < line_.size()) move_to(next_unit(position_));
}
// By words, as readline's backward-word and forward-word: words are runs of letters and digits.
void LineEditor::word_back() { move_to(word_start_before(position_)); }
void LineEditor::word_forward() { move_to(word_end_after(position_)); }

// Up and Down move one screen row within a wrapped line; from its first or
// last row they step through the history instead.
void LineEditor::row_up_or_older() {
  if (!move_rows(-1)) recall_older();
}
void LineEditor::row_down_or_newer() {
  if (!move_rows(1)) recall_newer();
}
bool LineEditor::move_rows(int32_t rows) {
  if (view_.scrolls_sideways()) return false;  // one row
  const int64_t target = view_.offset_of(line_, position_) + int64_t{rows} * view_.width();
  const bool inside = rows < 0 ? target >= view_.offset_of(line_, 0) : target <= view_.offset_of(line_, line_.size());
  if (!inside) return false;
  move_to(view_.index_at(line_, target));
  return true;
}

std::size_t LineEditor::next_unit(std::size_t at) const { return at + text_unit_at(line_, at).length; }

// Back over what is not a word, then over the word.
std::size_t LineEditor::word_start_before(std::size_t at) {
  for (bool in_word = false; at > 0;) {
    const std::size_t before = view_.unit_before(line_, at);
    const bool word = text_word_character_at(line_, before);
    if (in_word && !word) break;
    in_word = in_word || word;
    at = before;
  }
  return at;
}
std::size_t LineEditor::word_end_after(std::size_t at) const {
  while (at < line_.size() && !text_word_character_at(line_, at)) at = next_unit(at);
  while (at < line_.size() && text_word_character_at(line_, at)) at = next_unit(at);
  return at;
}
std::size_t LineEditor::words_moved(std::size_t at, int words) {
  for (int i = 0; i < words; ++i) at = word_end_after(at);
  for (int i = 0; i > words; --i) at = word_start_before(at);
  return at;
}

// --- Typing -------------------------------------------------------------------------

// Bytes of a UTF-8 character wait until it is complete, then go in as one,
// as many times as the count given before its first byte says (none when
// it is not above 0, as readline's); a counted character is a change of its own.
// Typed characters gather into a run that goes in as one change when
// another key comes or the screen is drawn: a paste into the middle of a
// long line moves what follows once, not once a character.
void LineEditor::type_text(const Key& key, Count count) {
  if (key.name == KeyName::Byte) return type_byte(static_cast<char>(key.code), count);
  for (const char byte : text_of_character(key.code)) type_byte(byte, count);  // a character sent as its code
}
void LineEditor::type_byte(char byte, Count count) {
  if (pending_.empty()) pending_count_ = count.value;
  pending_.push_back(byte);
  if (text_incomplete_character(pending_)) return;
  if (overwrite_) {
    overwrite_with(pending_, pending_count_);
  } else if (pending_count_ == 1) {
    typed_ += pending_;
  } else if (pending_count_ > 1) {
    insert_typed();
    std::string run;
    for (int i = 0; i < pending_count_; ++i) run += pending_;
    insert(run);
  }
  pending_.clear();
  pending_count_ = 1;
}
// In overwrite mode each character typed takes the place of the one under
// the cursor (at the end of the line it is added), one undo step each.
void LineEditor::overwrite_with(const std::string& character, int times) {
  for (int i = 0; i < times; ++i) {
    undo_.open_group();
    const std::size_t to = position_ < line_.size() ? next_unit(position_) : position_;
    replace(position_, to, character, position_ + character.size());
    undo_.end_group();
  }
}
void LineEditor::finish_character() {
  typed_ += pending_;  // an unfinished character goes in as it is
  pending_.clear();
  pending_count_ = 1;
  insert_typed();
}
void LineEditor::insert_typed() {
  if (typed_.empty()) return;
  std::string run;
  run.swap(typed_);
  insert(run, true);
}
// Blanks to the next stop of eight cells from the line's start, and a whole
// stop more for each further count, put in at once: a count of thousands is
// one insertion, not thousands of recounts of the line.
void LineEditor::insert_tab(Count count) {
  const auto times = static_cast<std::size_t>(std::min(std::abs(count.value), KeyPrefix::kMostCount));
  if (times == 0) return;
  insert(std::string(blanks_to_tab_stop(cells_before_cursor()) + kTabStop * (times - 1), ' '));
}
std::size_t LineEditor::cells_before_cursor() const {
  return text_cells(std::string_view(line_).substr(0, position_));
}
std::size_t LineEditor::blanks_to_tab_stop(std::size_t cells) { return kTabStop - cells % kTabStop; }

// The key after Ctrl+V goes in as it is, as many times as Ctrl+V's count
// says; an Alt key as its ESC, then the key Alt held, typed as usual; a
// paste with every byte as it is, its line breaks too.
void LineEditor::insert_quoted(const Key& key) {
  const Count count = state_.prefix.take_quote_count();
  const auto times = static_cast<std::size_t>(std::abs(count.value));
  if (key.name == KeyName::PasteStart) {
    quoted_paste_ = true;
    return begin_paste();
  }
  if (key.name == KeyName::Character && key.modifiers == 0) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += text_of_character(key.code);
    return insert(text);
  }
  if (key.modifiers == KEY_ALT) {
    insert(std::string(times, '\x1b'));
    return apply(Key{key.name, 0, key.keypad, false, key.code});
  }
  const int32_t code = key_code(key);
  if (code >= 0 && code <= 255) insert(std::string(times, static_cast<char>(code)));  // another key: nothing to put in
}

// A paste's text gathers until its end, a line break or the drawing, and
// goes in as one change; the whole paste is one undo step. A Tab in it is a
// typed Tab's blanks, other control bytes are left out, and a line break
// ends the line: what follows is for the next prompts, as typed ahead.
void LineEditor::begin_paste() {
  finish_character();
  paste_cells_.reset();
  if (!pasting_) undo_.open_group();
  pasting_ = true;
}
void LineEditor::end_paste() {
  insert_pasted();
  if (pasting_) undo_.end_group();
  pasting_ = quoted_paste_ = false;
}
void LineEditor::paste_byte(uint8_t byte) {
  if (!pasting_) begin_paste();  // the rest of a paste that ended the line before
  if (quoted_paste_) {
    pasted_.push_back(static_cast<char>(byte));
  } else if (byte == '\r' || byte == '\n') {
    end_paste();
    end_line();
  } else if (byte == '\t') {
    paste_tab();
  } else if (byte >= 0x20 && byte != 0x7F) {
    pasted_.push_back(static_cast<char>(byte));
  }
}
// A pasted Tab's blanks join the paste's text. The cells before them are
// counted from the last Tab on, not from the line's start each time, so a
// long paste full of tabs takes time in proportion to its length.
void LineEditor::paste_tab() {
  if (!paste_cells_) {
    insert_pasted();
    paste_cells_ = PasteCells{cells_before_cursor(), 0};
  }
  paste_cells_->cells += text_cells(std::string_view(pasted_).substr(paste_cells_->counted));
  const std::size_t blanks = blanks_to_tab_stop(paste_cells_->cells);
  pasted_.append(blanks, ' ');
  *paste_cells_ = PasteCells{paste_cells_->cells + blanks, pasted_.size()};
}
void LineEditor::insert_pasted() {
  paste_cells_.reset();  // the text may end within a character: count afresh from the line
  if (pasted_.empty()) return;
  std::string text;
  text.swap(pasted_);
  insert(text);
}
void LineEditor::insert(const std::string& bytes, bool typed) {
  if (!bytes.empty()) replace(position_, position_, bytes, position_ + bytes.size(), typed);
}

// Ctrl+Y puts back the newest kill; Alt+Y right after it puts the one before in its place.
void LineEditor::yank() {
  if (kills_->empty()) return;
  const std::string& text = kills_->newest();
  state_.yanked_from = position_;
  state_.yanked_length = text.size();
  insert(text);
  state_.last_was_yank = true;
}
void LineEditor::yank_previous() {
  if (!after_yank_ || kills_->empty()) return;  // only right after a yank
  const std::string& text = kills_->previous();
  replace(state_.yanked_from, state_.yanked_from + state_.yanked_length, text, state_.yanked_from + text.size());
  state_.yanked_length = text.size();
  state_.last_was_yank = true;
}

// --- Deleting and killing -----------------------------------------------------------

void LineEditor::delete_before() {
  if (position_ == 0) return;
  const std::size_t from = view_.unit_before(line_, position_);
  replace(from, position_, "", from);
}
void LineEditor::delete_under() {
  if (position_ == line_.size()) return ring_bell();
  replace(position_, next_unit(position_), "", position_);
}
// Backspace and Delete with a count kill that many characters, as readline's
// do: Ctrl+Y brings them back. A negative count turns them around.
void LineEditor::rubout(Count count) {
  if (!count.given && overwrite_) return rub_out_overwriting();
  if (!count.given) return delete_before();
  if (count.value < 0) return delete_forward({-count.value, true});
  std::size_t from = position_;
  for (int i = 0; i < count.value && from > 0; ++i) from = view_.unit_before(line_, from);
  kill(from, position_, true);
}
// In overwrite mode Backspace leaves a blank where the character before the
// cursor was, the cursor on it; at the end of the line it deletes as usual.
void LineEditor::rub_out_overwriting() {
  if (position_ == 0) return;
  const std::size_t from = view_.unit_before(line_, position_);
  replace(from, position_, position_ < line_.size() ? " " : "", from);
}
void LineEditor::delete_forward(Count count) {
  if (!count.given) return delete_under();
  if (count.value < 0) return rubout({-count.value, true});
  std::size_t to = position_;
  for (int i = 0; i < count.value && to < line_.size(); ++i) to = next_unit(to);
  kill(position_, to, false);
}

void LineEditor::kill_to_end() { kill(position_, line_.size(), false); }
void LineEditor::kill_to_start() { kill(0, position_, true); }
void LineEditor::kill_word_after() { kill(position_, word_end_after(position_), false); }
void LineEditor::kill_word_before() { kill(word_start_before(position_), position_, true); }
// Ctrl+W: the blank-separated word before the cursor, the blanks before it first.
void LineEditor::kill_blank_word_before() {
  std::size_t from = position_;
  while (from > 0 && is_blank(line_[from - 1])) --from;
  while (from > 0 && !is_blank(line_[from - 1])) --from;
  kill(from, position_, true);
}

// Takes [from, to) into the kill ring: after another kill, a forward kill
// appends to that piece and a backward one prepends. Nothing to take changes
// neither the piece nor the gathering.
void LineEditor::kill(std::size_t from, std::size_t to, bool backward) {
  if (from == to) {
    state_.last_was_kill = state_.gathering_kills;
    return;
  }
  const KillRing::Gather gather =
      !state_.gathering_kills ? KillRing::Gather::New
                              : (backward ? KillRing::Gather::Prepend : KillRing::Gather::Append);
  kills_->kill(std::string_view(line_).substr(from, to - from), gather);
  state_.gathering_kills = state_.last_was_kill = true;  // a count's repeats gather too
  replace(from, to, "", from);
}

// Alt+\: the blanks around the cursor.
void LineEditor::delete_blanks_around() {
  std::size_t from = position_, to = position_;
  while (from > 0 && is_blank(line_[from - 1])) --from;
  while (to < line_.size() && is_blank(line_[to])) ++to;
  if (from != to) replace(from, to, "", from);
}

// Escape clears the line; what it cleared is a kill of its own, and undone as one change.
void LineEditor::clear() {
  if (line_.empty()) return;
  kills_->kill(line_, KillRing::Gather::New);
  if (before_escape_) before_escape_->cleared = line_.size();
  replace(0, line_.size(), "", 0);
}

// The Escape just acted on was the start of a sequence whose rest stalled on
// the link: everything it changed is as before it (the line, the kill ring,
// a search, a count or Ctrl+V or a key sequence in progress).
void LineEditor::undo_escape() {
  if (!before_escape_) return;
  const BeforeEscape before = std::move(*before_escape_);
  before_escape_.reset();
  if (before.cleared != 0) kills_->take_back(KillRing::Gather::New, before.cleared);
  while (undo_.changes() > before.changes) undo_group(/*cursor_as_before=*/true);
  if (before.search) {
    recall(before.shown);
    move_to(before.position);
    search_ = before.search;
    show_search_prompt();
  }
  const bool mode_changed = state_.keymap != before.state.keymap;
  state_ = before.state;  // the mode, a count or a sequence in progress, what the keys before left
  if (mode_changed) move_to(before.position);  // vi mode's Escape: the cursor it moved back
  waiting_command_ = state_.sequence.empty() ? nullptr : settings_->keys.find(state_.keymap, state_.sequence).whole;
  show_count();
}

// --- Transposing and case -----------------------------------------------------------

// Ctrl+T: the character before the cursor dragged forward over the one
// under it (with a count, over as many as there are of that many), the
// cursor moving with it; at the end of the line the last two swapped. A
// count of 0 or below does nothing, as in readline.
void LineEditor::transpose_characters(Count count) {
  if (position_ == 0 || count.value <= 0) return;
  const std::size_t at = position_ == line_.size() ? view_.unit_before(line_, position_) : position_;
  const std::size_t first = view_.unit_before(line_, at);
  if (first == at || at == line_.size()) return;  // fewer than two characters
  std::size_t end = next_unit(at);
  for (int i = 1; i < count.value && position_ != line_.size() && end < line_.size(); ++i) end = next_unit(end);
  const std::string dragged = line_.substr(at, end - at) + line_.substr(first, at - first);
  replace(first, end, dragged, end);
}

// Alt+T: the word before the cursor with the word after it, as readline's
// transpose-words finds them (with a count, the word that many words
// before); the cursor goes after both.
void LineEditor::transpose_words(Count count) {
  if (count.value == 0) return;
  const std::size_t second_end = words_moved(position_, count.value);
  const std::size_t second_start = word_start_before(second_end);
  const std::size_t first_start = words_moved(second_start, -count.value);
  const std::size_t first_end = word_end_after(first_start);
  if (first_start == second_start || second_start < first_end) return;  // fewer than two words
  const std::string swapped = line_.substr(second_start, second_end - second_start) +
                              line_.substr(first_end, second_start - first_end) +
                              line_.substr(first_start, first_end - first_start);
  replace(first_start, second_end, swapped, second_end);
}

// Alt+U, Alt+L, Alt+C: from the cursor to the end of the word (or of the
// words a count gives), the cursor going there; a negative count changes
// the words before the cursor, which stays.
void LineEditor::change_case(TextCase mode, int words) {
  const std::size_t end = words_moved(position_, words);
  const std::size_t from = std::min(position_, end), to = std::max(position_, end);
  if (from == to) return;
  const std::string changed = text_with_case(std::string_view(line_).substr(from, to - from), mode);
  replace(from, to, changed, from + changed.size());
}

// --- Undoing ------------------------------------------------------------------------

void LineEditor::undo_group(bool cursor_as_before) {
  const auto changed = [this](std::size_t at, std::size_t removed, std::size_t inserted) {
    view_.changed(line_, at, removed, inserted);
  };
  undo_.undo(line_, &position_, changed, cursor_as_before);
  position_ = view_.unit_holding(line_, position_);
}

// Ctrl+_ and Ctrl+X Ctrl+U: a count undoes that many groups; a negative one nothing, as readline's.
void LineEditor::undo_times(Count count) {
  for (int i = 0; i < count.value; ++i) undo();
}

// Alt+R: the line as it was when the prompt or the recalled entry was shown.
void LineEditor::revert_line() {
  if (state_.keymap != Keymap::Emacs) {  // vi's U: every change undone, the cursor at the start; none: a bell
    if (undo_.empty()) return ring_bell();
    while (!undo_.empty()) undo_group(false);
    return move_to(0);
  }
  line_ = history_.original();
  undo_.clear();
  position_ = line_.size();
  view_.replaced();
}
