// SPDX-License-Identifier: MIT
// The rest of readline's one-line commands, as bash's `read -e` does them:
// the mark and the region, copying words, searching for a character, the
// history searched by the line's start or by any part of it, the words of
// earlier lines, overwriting, comments, keyboard macros, and reading the
// inputrc again.
#include <algorithm>
#include <cstdlib>

#include "runtime/input/line_editor.h"
#include "runtime/term/term.h"

namespace {

// The blank-separated words of a line.
std::vector<std::string_view> words_of(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && is_blank(line[at])) ++at;
    const std::size_t start = at;
    while (at < line.size() && !is_blank(line[at])) ++at;
    if (at > start) words.push_back(line.substr(start, at - start));
  }
  return words;
}

}  // namespace

// --- Settings and keys ----------------------------------------------------------------

void LineEditor::re_read_init_file() {
  waiting_command_ = nullptr;
  if (memory_ != nullptr) {
    memory_->read_settings = read_edit_settings();
    settings_ = &memory_->settings();
  } else {
    own_settings_ = read_edit_settings();
  }
}

// Ctrl+G: a bell; the count was spent on it, a keyboard macro being recorded is dropped.
void LineEditor::abort_keys() {
  recording_macro_ = false;
  ring_bell();
}

// Alt with a capital letter: what Alt with the small one does.
void LineEditor::do_lowercase_version() {
  Key key = current_key_;
  if (key.name != KeyName::Byte || key.code < 'A' || key.code > 'Z') return;
  key.code += 'a' - 'A';
  dispatch(key);
}

// --- Killing and copying --------------------------------------------------------------

void LineEditor::kill_whole_line() {
  undo_.open_group();
  kill(0, line_.size(), false);
  undo_.end_group();
  mark_ = 0;
}

// Back over blanks, then slashes, then the rest of a word up to a blank or a slash.
void LineEditor::unix_filename_rubout() {
  std::size_t from = position_;
  while (from > 0 && is_blank(line_[from - 1])) --from;
  if (from > 0 && line_[from - 1] == '/') {
    std::size_t slashes = from;
    while (slashes > 0 && line_[slashes - 1] == '/') --slashes;
    if (slashes == 0 || is_blank(line_[slashes - 1])) return kill(slashes, position_, true);  // slashes alone
  }
  while (from > 0 && line_[from - 1] == '/') --from;
  while (from > 0 && !is_blank(line_[from - 1]) && line_[from - 1] != '/') --from;
  kill(view_.unit_holding(line_, from), position_, true);
}

void LineEditor::exchange_point_and_mark() {
  const std::size_t mark = view_.unit_holding(line_, std::min(mark_, line_.size()));
  mark_ = position_;
  move_to(mark);
}

// The text between the cursor and the mark: taken out, or copied, into the kill ring.
void LineEditor::kill_region() {
  const std::size_t mark = view_.unit_holding(line_, std::min(mark_, line_.size()));
  const std::size_t from = std::min(position_, mark), to = std::max(position_, mark);
  kill(from, to, position_ > mark);
  if (from == to) state_.last_was_kill = true;  // readline counts an empty region as a kill
  mark_ = position_;
}
void LineEditor::copy_region_as_kill() {
  const std::size_t mark = view_.unit_holding(line_, std::min(mark_, line_.size()));
  copy_to_kills(std::min(position_, mark), std::max(position_, mark), position_ > mark);
}
// The words before or after the cursor, whole, into the kill ring (the
// cursor stays): as readline, from the word's far end back to its near start.
void LineEditor::copy_backward_word(Count count) { copy_forward_word({-count.value, count.given}); }
void LineEditor::copy_forward_word(Count count) {
  const std::size_t far = words_moved(position_, count.value);
  const std::size_t near = words_moved(far, -count.value);
  copy_to_kills(std::min(far, near), std::max(far, near), near > far);
}
void LineEditor::copy_to_kills(std::size_t from, std::size_t to, bool backward) {
  if (from != to) {
    const KillRing::Gather gather =
        !state_.gathering_kills ? KillRing::Gather::New
                                : (backward ? KillRing::Gather::Prepend : KillRing::Gather::Append);
    kills_->kill(std::string_view(line_).substr(from, to - from), gather);
  }
  state_.gathering_kills = state_.last_was_kill = true;
}

// --- Typing over, comments ------------------------------------------------------------

// Without a count it turns overwriting on or off; a count above 0 turns it on, any other off.
void LineEditor::overwrite_mode(Count count) { overwrite_ = count.given ? count.value > 0 : !overwrite_; }

// Alt+#: the comment mark at the start of the line, and the line taken (with
// a count, a line that starts with the mark loses it instead).
void LineEditor::insert_comment(Count count) {
  const std::string& mark = settings_->comment_begin;
  if (count.given && line_.compare(0, mark.size(), mark) == 0) {
    replace(0, mark.size(), "", 0);
  } else {
    replace(0, 0, mark, 0);
  }
  end_line();
}

// --- Searching for a character --------------------------------------------------------

// The text a key types (a byte or a character without Ctrl or Alt), or nothing.
std::string LineEditor::character_of(const Key& key) {
  if (!key_is_text(key)) return "";
  return key.name == KeyName::Byte ? std::string(1, static_cast<char>(key.code)) : text_of_character(key.code);
}

// Where the count-th character after (or before) the cursor that is the
// key's character is: on it, or (till) next to it on this side; nullopt,
// with the bell, when there are fewer.
std::optional<std::size_t> LineEditor::character_target(const Key& key, int count, bool backward, bool till) {
  if (count < 0) {
    count = -count;
    backward = !backward;
  }
  const std::string wanted = key.name == KeyName::Tab ? "\t" : character_of(key);
  // With a count, as far as the occurrences go: the last one found, as readline's.
  std::optional<std::size_t> target;
  std::size_t at = position_;
  for (int found = 0; found < count && !wanted.empty(); ++found) {
    bool more = true;
    for (;;) {
      if (backward ? at == 0 : at >= line_.size()) {
        more = false;
        break;
      }
      at = backward ? view_.unit_before(line_, at) : next_unit(at);
      if (at < line_.size() && line_.compare(at, wanted.size(), wanted) == 0) break;
    }
    if (!more) break;
    target = till ? (backward ? next_unit(at) : view_.unit_before(line_, at)) : at;
  }
  if (!target) ring_bell();
  return target;
}
void LineEditor::search_character(const Key& key, bool backward, Count count) {
  if (const auto target = character_target(key, count.value, backward, false)) move_to(*target);
}

// --- Searching the history for a text typed first ---------------------------------------

// Alt+P and Alt+N (and vi's / and ?): the text is typed after ":" (or the
// key) in place of the line; Enter looks for the nearest line of the
// history that holds it (with nothing typed, the text looked for last).
void LineEditor::begin_text_search(bool backward, char shown) {
  mini_ = MiniSearch{backward, shown, "", std::move(line_), position_, std::move(undo_)};
  line_.clear();
  undo_.clear();
  position_ = 0;
  view_.replaced();
  show_text_search();
}
void LineEditor::show_text_search() {
  view_.set_prompt(shown_prompt() + mini_->shown + mini_->query);
  redraw_all_ = true;
}
void LineEditor::end_text_search() {
  line_ = std::move(mini_->line);
  undo_ = std::move(mini_->undo);
  position_ = mini_->position;
  mini_.reset();
  view_.set_prompt(shown_prompt());
  view_.replaced();
  redraw_all_ = true;
}
void LineEditor::text_search_key(const Key& key) {
  std::string& query = mini_->query;
  if (key == named_key(KeyName::Enter)) {
    const bool backward = mini_->backward, vi = mini_->shown != ':';
    std::string wanted = query;
    end_text_search();
    if (wanted.empty()) wanted = last_text_query_;
    if (wanted.empty()) return ring_bell();  // readline empties the line here; it is kept
    last_text_query_ = wanted;
    last_text_backward_ = backward;
    return search_text(wanted, backward, vi);
  }
  if (key == named_key(KeyName::Backspace)) {
    if (query.empty()) return end_text_search();
    drop_last_character(&query);
  } else if (key == ctrl_byte('G')) {
    ring_bell();
    return end_text_search();
  } else if (key == ctrl_byte('U')) {
    query.clear();
  } else if (key == ctrl_byte('W')) {
    while (!query.empty() && is_blank(query.back())) query.pop_back();
    while (!query.empty() && !is_blank(query.back())) query.pop_back();
  } else {
    query += character_of(key);
  }
  show_text_search();
}
// The line found is shown with the cursor where the text stands (in vi
// mode at its start); none found, the bell, the cursor at the line's start.
void LineEditor::search_text(const std::string& wanted, bool backward, bool vi) {
  const int64_t from = backward ? -1 : static_cast<int64_t>(line_.size()) + 1;  // not in the line shown
  const auto found = history_.search(wanted, line_, from, backward);
  if (!found || found->index + 1 >= history_.size()) {
    ring_bell();
    return move_to(0);
  }
  recall(found->index);
  move_to(vi ? 0 : found->at);
}
void LineEditor::non_incremental_reverse_search() { begin_text_search(true, ':'); }
void LineEditor::non_incremental_forward_search() { begin_text_search(false, ':'); }
void LineEditor::vi_search() { begin_text_search(current_key_ == text_key('/'), static_cast<char>(current_key_.code)); }
void LineEditor::vi_search_again() {
  if (last_text_query_.empty()) return ring_bell();
  search_text(last_text_query_, last_text_backward_ != (current_key_ == text_key('N')), true);
}

// --- The history by its lines' text ----------------------------------------------------

// The next older (or newer) line of the history that begins with (anchored)
// or holds the text before the cursor; the text is kept while the command
// is repeated. Anchored, the cursor stays after that text; else it goes to
// where the text stands in the line found (its last place going back, its
// first going forward). With no text, the previous or next line, the cursor at its end.
void LineEditor::history_search(bool backward, bool anchored) {
  const bool repeated = state_.last_command != nullptr && this_command_ != nullptr &&
                        (state_.last_command->action == this_command_->action ||
                         state_.last_command->action == this_command_->backward);
  if (!repeated) state_.history_query = line_.substr(0, position_);
  if (state_.history_query.empty()) {
    const std::size_t shown = history_.shown();
    if (backward ? shown == 0 : history_.at_newest()) return ring_bell();
    recall(backward ? shown - 1 : shown + 1);
    return;
  }
  const std::size_t last_entry = history_.size() - 1;  // the line being typed is not searched
  std::size_t index = history_.shown();
  for (;;) {
    if (backward ? index == 0 : index + 1 >= last_entry) return ring_bell();
    index = backward ? index - 1 : index + 1;
    const std::string& text = history_.text_of(index, line_);
    const std::size_t at = anchored ? (text.rfind(state_.history_query, 0) == 0 ? 0 : std::string::npos)
                                    : (backward ? text.rfind(state_.history_query) : text.find(state_.history_query));
    if (at == std::string::npos) continue;
    recall(index);
    move_to(anchored ? state_.history_query.size() : at);
    return;
  }
}

// Alt+. and Alt+_: the last word of the line before this one in the history
// (with a count, that word of it, as Alt+Ctrl+Y); again right after, the
// word of the line before that in its place (a negative count turns the
// way round). Alt+Ctrl+Y: the word numbered by the count (1 without one,
// the second word; 0 the first; -1 the one before the last).
void LineEditor::yank_last_arg(Count count) {
  const bool repeated = state_.last_command != nullptr && state_.last_command->with_count == &LineEditor::yank_last_arg;
  if (!repeated) {
    state_.yank_arg_skip = 0;
    state_.yank_arg_direction = 1;
    state_.yank_arg_word = count.given ? count.value : kLastWord;
  } else {
    if (state_.yank_arg_inserted) undo_group(false);
    if (count.value < 0) state_.yank_arg_direction = -state_.yank_arg_direction;
    state_.yank_arg_skip = std::max(0, state_.yank_arg_skip + state_.yank_arg_direction);
  }
  state_.yank_arg_inserted = yank_argument(state_.yank_arg_skip, state_.yank_arg_word);
}
void LineEditor::yank_nth_arg(Count count) { yank_argument(0, count.value); }

bool LineEditor::yank_argument(int skip, int word) {
  const std::size_t shown = history_.shown();
  if (static_cast<std::size_t>(skip) >= shown) {
    ring_bell();
    return false;
  }
  const std::vector<std::string_view> words = words_of(history_.text_of(shown - 1 - skip, line_));
  const auto size = static_cast<int>(words.size());
  const int index = word == kLastWord ? size - 1 : (word < 0 ? size + word - 1 : word);
  if (index < 0 || index >= size) {
    ring_bell();
    return false;
  }
  mark_ = position_;
  undo_.open_group();
  insert(std::string(words[static_cast<std::size_t>(index)]));
  undo_.end_group();
  return true;
}

// --- Keyboard macros -------------------------------------------------------------------

// Ctrl+X (: the keys from here are recorded (with a count, after the last
// macro, typed again first); Ctrl+X ): the recording ends; Ctrl+X E types
// the keys again, count times.
void LineEditor::start_kbd_macro() {
  if (recording_macro_) return abort_keys();
  recording_macro_ = true;
  recorded_.clear();
}
void LineEditor::end_kbd_macro() {
  if (!recording_macro_) return ring_bell();
  recording_macro_ = false;
  recorded_.resize(recorded_.size() - std::min(recorded_.size(), command_keys_));  // not the keys that ended it
  *keyboard_macro_ = recorded_;
}
void LineEditor::call_last_kbd_macro(Count count) {
  if (recording_macro_) {  // it would call itself: readline rings and drops the key
    ring_bell();
    if (!recorded_.empty()) recorded_.pop_back();
    return;
  }
  if (keyboard_macro_->empty()) return ring_bell();
  const std::vector<Key> keys = *keyboard_macro_;
  for (int i = 0; i < std::min(count.value, KeyPrefix::kMostCount) && !line_ended_; ++i) run_macro(keys);
}
