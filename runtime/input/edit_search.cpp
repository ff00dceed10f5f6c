// SPDX-License-Identifier: MIT
// The line editor's history: stepping through the lines entered at this
// prompt (edits to them kept until the line is taken), and searching them
// incrementally as readline's Ctrl+R and Ctrl+S do, with its
// "(reverse-i-search)`query': " shown in place of the prompt.
#include "runtime/input/line_editor.h"
#include "runtime/term/term.h"

// The text without its last character: a whole UTF-8 character in a UTF-8 locale.
void drop_last_character(std::string* text) {
  if (text->empty()) return;
  std::size_t start = text->size() - 1;
  if (term_text_utf8()) {
    while (start > 0 && text->size() - start < 4 && (static_cast<unsigned char>((*text)[start]) & 0xC0) == 0x80) --start;
    if (text_decode_utf8(*text, start).length != text->size() - start) start = text->size() - 1;
  }
  text->erase(start);
}

void LineEditor::recall(std::size_t index) {
  if (index == history_.shown()) return;
  history_.move_to(index, &line_, &undo_);
  position_ = state_.keymap == Keymap::ViCommand ? 0 : line_.size();  // vi's command mode: at the start, as readline
  view_.replaced();
}

// With history-preserve-point the cursor keeps its place from line to line
// while the history is stepped through, unless it was at the end.
void LineEditor::recall_older() {
  if (history_.shown() > 0) step_history(history_.shown() - 1);
}
void LineEditor::recall_newer() {
  if (!history_.at_newest()) step_history(history_.shown() + 1);
}
void LineEditor::step_history(std::size_t index) {
  const bool stepping = state_.last_command != nullptr && (state_.last_command->action == &LineEditor::recall_older ||
                                                     state_.last_command->action == &LineEditor::recall_newer ||
                                                     state_.last_command->action == &LineEditor::row_up_or_older ||
                                                     state_.last_command->action == &LineEditor::row_down_or_newer);
  if (!stepping) saved_point_ = position_ < line_.size() ? std::optional(position_) : std::nullopt;
  recall(index);
  if (settings_->history_preserve_point && saved_point_ && state_.keymap != Keymap::ViCommand)
    move_to(std::min(*saved_point_, line_.size()));
}
void LineEditor::recall_first() { recall(0); }
void LineEditor::recall_last() { recall(history_.size() - 1); }

void LineEditor::begin_search(bool backward) {
  search_ = HistorySearch{backward, "", history_.shown(), position_};
  show_search_prompt();
}

void LineEditor::show_search_prompt() {
  std::string shown = search_->failed ? "(failed " : "(";
  shown += search_->backward ? "reverse-i-search)`" : "i-search)`";
  shown += search_->query + "': ";
  view_.set_prompt(shown);
  redraw_all_ = true;
}

// The match starts at the cursor: what follows it (or the cursor, before
// anything is found) is added, its word characters or all of it.
void LineEditor::search_add_from_line(bool word) {
  HistorySearch& search = *search_;
  const std::size_t from = std::min(position_ + (search.failed ? 0 : search.query.size()), line_.size());
  std::size_t end = line_.size();
  if (word) {
    for (end = from; end < line_.size() && text_word_character_at(line_, end);) end = next_unit(end);
  }
  search.query += line_.substr(from, end - from);
  search_again(search.backward, true);
}

void LineEditor::end_search() {
  search_.reset();
  view_.set_prompt(shown_prompt());
  redraw_all_ = true;
}

// The next line that holds the query, in the given direction: from where
// the cursor is when the query just grew (the match there may still hold),
// or beyond it when Ctrl+R or Ctrl+S asks for another. With nothing typed,
// the last search's text is looked for again.
void LineEditor::search_again(bool backward, bool including_here) {
  HistorySearch& search = *search_;
  search.backward = backward;
  if (search.query.empty()) search.query = last_query_;
  if (!search.query.empty()) {
    const auto here = static_cast<int64_t>(position_);
    const int64_t from = backward ? (including_here ? here : here - 1) : (including_here ? here : here + 1);
    const auto found = history_.search(search.query, line_, from, backward);
    search.failed = !found;
    if (found) {
      recall(found->index);
      move_to(found->at);
      last_query_ = search.query;
    }
  }
  show_search_prompt();
}

// A key while searching: a key of the search's table (line_edit.cpp), or
// text, which grows the query; any other key takes the line found and then
// acts as it always does (false: not taken here).
bool LineEditor::search_key(const Key& key) {
  HistorySearch& search = *search_;
  const int32_t code = key.modifiers == 0 ? key_code(key) : -1;
  if (code > 0 && code < 256 && settings_->isearch_terminators.find(static_cast<char>(code)) != std::string::npos) {
    end_search();  // an isearch terminator: the line found stays, the key does nothing more
    return true;
  }
  if (const SearchBinding* binding = search_binding_for(key)) {
    (this->*binding->action)();
  } else if (key_is_text(key)) {
    search.query += key.name == KeyName::Byte ? std::string(1, static_cast<char>(key.code)) : text_of_character(key.code);
    search_again(search.backward, true);
  } else {
    // Readline leaves a failed search with the cursor at the line's start, or its end going forward.
    if (search.failed) move_to(search.backward ? 0 : line_.size());
    end_search();
    return false;
  }
  return true;
}

void LineEditor::search_take_line() {
  end_search();
  end_line();
}

void LineEditor::search_give_up() {
  recall(search_->start_index);
  move_to(search_->start_position);
  end_search();
}

// Backspace takes back the query's last character and searches again from
// where the search began; down to nothing, the line found stays, the search
// marked failed.
void LineEditor::search_drop_character() {
  HistorySearch& search = *search_;
  drop_last_character(&search.query);
  if (search.query.empty()) {
    search.failed = true;
    show_search_prompt();
  } else {
    recall(search.start_index);
    move_to(search.start_position);
    search_again(search.backward, true);
  }
}
