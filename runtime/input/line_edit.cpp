// SPDX-License-Identifier: MIT
// The line editor: one line typed and edited on the terminal, wrapping across
// rows at the window width, scrolling the screen when it runs past the bottom.
//
// Keys come from the key queue and act through one key table, which also
// gives --help its key list: the PC keys and readline's default (emacs)
// bindings that make sense on one line, with each prompt's history, the kill
// ring and the undo list. In a UTF-8 locale a character is one unit. Keys
// change the line and the cursor's place in it; the screen is brought up to
// date once for all the keys that are waiting (a paste, or a slow link that
// delivers typing in bursts), from the first change on, by the view
// (line_view.h), which needs no answer from the terminal to handle a key.

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "runtime/input/line_editor.h"
#include "runtime/stream/stream.h"
#include "runtime/term/term.h"

namespace {

constexpr std::size_t kHistoryLines = 100;

// Standard input is a terminal the program does not drive: the terminal's own
// line discipline edits and echoes; read up to the line feed. The terminal has
// echoed that line feed itself when the answer is shown on it too.
std::string read_plain_line(LineEnding* ending) {
  std::string line;
  int ch;
  while ((ch = stream_input_byte()) >= 0 && ch != '\n') line.push_back(static_cast<char>(ch));
  if (ch < 0) {
    *ending = line.empty() ? LineEnding::EndOfInput : LineEnding::Enter;
  } else {
    *ending = term_output_is_terminal() ? LineEnding::EnterEchoed : LineEnding::Enter;
  }
  return line;
}

}  // namespace

LineEditor::LineEditor(int32_t mode, std::string_view prompt, EditMemory* memory, bool fresh_row)
    : soft_cursor_(mode != EDIT_WITH_TERMINAL_CURSOR),
      fresh_row_(fresh_row),
      prompt_(prompt),
      view_(prompt),
      history_(memory != nullptr ? &memory->histories[std::string(prompt)] : nullptr),
      kills_(memory != nullptr ? &memory->kills : &own_kills_) {}

bool LineEditor::run() {
  start();
  while (!line_ended_) {
    if (!wait_for_input()) return false;
    HeldOutput held;  // what the keys change leaves in one write
    if (soft_cursor_) view_.show_soft_cursor(line_, position_, false);
    follow_screen_change(false);
    apply_waiting_keys();
    if (!view_.screen_changed()) bring_screen_up_to_date();  // else drawn once the change is followed
    show_cursor_as(idle_visibility_);
    if (soft_cursor_ && !line_ended_) view_.show_soft_cursor(line_, position_, true);
  }
  HeldOutput held;
  follow_screen_change(true);
  bring_screen_up_to_date();
  finish();
  return true;
}

void LineEditor::start() {
  HeldOutput held;
  initial_visibility_ = term_cursor_visible() ? CURSOR_SHOW : CURSOR_HIDE;
  term_refresh();
  term_line_keys_on();
  view_.start();
  if (fresh_row_) {  // the shell wrote its lines meanwhile
    show_cursor_as(CURSOR_HIDE);
    view_.follow_screen_change(line_, position_, true);
  }
  idle_visibility_ = soft_cursor_ ? CURSOR_HIDE : CURSOR_SHOW;
  show_cursor_as(idle_visibility_);
  if (soft_cursor_) view_.show_soft_cursor(line_, position_, true);
}

// Waits until a key is there to take or a change of the screen is to be
// followed; false if the keyboard or terminal handling ended. Keys already
// queued come first: key_arrived_since_asked only reports new arrivals. Blocks while
// idle: only a key, a signal or a deadline (a window settling, a sequence
// still arriving) ends the wait.
bool LineEditor::wait_for_input() {
  for (;;) {
    // With handling off, key_arrived_since_asked only reports that standard input has not ended.
    if (!term_handling_active()) return false;
    int wait_ms = -1;
    if (view_.screen_changed() && view_.ready_to_follow(&wait_ms)) return true;
    if (!key_queue_empty() || key_arrived_since_asked()) return true;
    if (term_keyboard_ended()) return false;
    term_line_keys_on();  // the kitty protocol, once its answer has come (a reply wakes the wait too)
    term_wait_for_key(wait_ms);
  }
}

// A resize or a stop: drawn again once the window keeps its size, or at
// once when the line is to be left (in the foreground only).
void LineEditor::follow_screen_change(bool now) {
  if (!view_.screen_changed()) return;
  int ignored = -1;
  if (!view_.ready_to_follow(&ignored) && !(now && term_in_foreground())) return;
  term_set_cursor_visibility(CURSOR_HIDE);
  view_.follow_screen_change(line_, position_, view_.continued());
  cursor_moved_ = clear_screen_ = redraw_all_ = false;
}

void LineEditor::apply_waiting_keys() {
  while (!line_ended_) {
    const Key key = next_key();
    if (!key) break;
    apply(key);
  }
  insert_typed();  // before the screen is drawn
  insert_pasted();
}

void LineEditor::bring_screen_up_to_date() {
  // The cursor is hidden while cells away from it are drawn; a change at the
  // cursor alone (a character typed or rubbed out at the end) is drawn with it shown.
  if (clear_screen_ || redraw_all_ || (view_.has_unshown_change() && !view_.change_is_at_cursor(line_, position_)))
    show_cursor_as(CURSOR_HIDE);
  if (clear_screen_ && view_.clear_screen(line_, position_)) redraw_all_ = false;
  if (redraw_all_) view_.redraw(line_, position_);
  if (clear_screen_ || redraw_all_) cursor_moved_ = false;
  clear_screen_ = redraw_all_ = false;
  if (view_.has_unshown_change()) {
    view_.show(line_, position_);
  } else if (cursor_moved_) {
    view_.place_at(line_, position_);
  }
  cursor_moved_ = false;
  if (observer != nullptr) observer(view_, line_, position_);
}

void LineEditor::finish() {
  if (search_) end_search();
  move_to(line_.size());
  bring_screen_up_to_date();
  term_set_cursor_visibility(initial_visibility_);
  if (!input_ended_) history_.take(line_, kHistoryLines);
}

void LineEditor::show_cursor_as(int32_t visibility) {
  if (term_cursor_visible() != (visibility == CURSOR_SHOW)) term_set_cursor_visibility(visibility);
}

// The keys of readline's default (emacs) mode that make sense on one line,
// and the PC keys, in the order --help lists them. Bytes 32 to 255 without a
// row are typed text; every other key is ignored. The search's keys are in
// the table after this one, the keys a prefix takes in key_prefix.cpp.
std::span<const LineEditor::Binding> LineEditor::bindings() {
  using E = LineEditor;
  constexpr Key kLeft = named_key(KeyName::Left), kRight = named_key(KeyName::Right);
  static constexpr Binding kBindings[] = {
      {kLeft, "Left", "a character back or forward", &E::move_left, &E::move_right},
      {kRight, "Right", nullptr, &E::move_right, &E::move_left},
      {ctrl_byte('B'), "Ctrl+B", nullptr, &E::move_left, &E::move_right},
      {ctrl_byte('F'), "Ctrl+F", nullptr, &E::move_right, &E::move_left},
      {ctrl(kLeft), "Ctrl+Left", "a word back or forward (also Alt+Left, Alt+Right,\nAlt+B, Alt+F)", &E::word_back,
       &E::word_forward},
      {ctrl(kRight), "Ctrl+Right", nullptr, &E::word_forward, &E::word_back},
      {alt(kLeft), nullptr, nullptr, &E::word_back, &E::word_forward},
      {alt(kRight), nullptr, nullptr, &E::word_forward, &E::word_back},
      {alt(text_key('b')), nullptr, nullptr, &E::word_back, &E::word_forward},
      {alt(text_key('f')), nullptr, nullptr, &E::word_forward, &E::word_back},
      {named_key(KeyName::Home), "Home", "the start or end of the line", &E::move_home},
      {named_key(KeyName::End), "End", nullptr, &E::move_end},
      {ctrl_byte('A'), "Ctrl+A", nullptr, &E::move_home},
      {ctrl_byte('E'), "Ctrl+E", nullptr, &E::move_end},
      {named_key(KeyName::Up), "Up", "a row within a wrapped line, else the history", &E::row_up_or_older,
       &E::row_down_or_newer},
      {named_key(KeyName::Down), "Down", nullptr, &E::row_down_or_newer, &E::row_up_or_older},
      {ctrl_byte('P'), "Ctrl+P", "the previous or next line typed at this prompt", &E::recall_older, &E::recall_newer},
      {ctrl_byte('N'), "Ctrl+N", nullptr, &E::recall_newer, &E::recall_older},
      {alt(text_key('<')), "Alt+<", "the first line of the history, the line being typed", &E::recall_first, nullptr,
       false},
      {alt(text_key('>')), "Alt+>", nullptr, &E::recall_last, nullptr, false},
      {ctrl_byte('R'), "Ctrl+R", "search the history backward or forward as you type", nullptr, nullptr, true,
       &E::search_backward},
      {ctrl_byte('S'), "Ctrl+S", nullptr, nullptr, nullptr, true, &E::search_forward},
      {named_key(KeyName::Backspace), "Backspace", "delete the character before or under the cursor", nullptr, nullptr,
       true, &E::rubout},
      {named_key(KeyName::Delete), "Delete", nullptr, nullptr, nullptr, true, &E::delete_forward},
      {ctrl_byte('K'), "Ctrl+K", "delete to the end, to the start, the word before", &E::kill_to_end, &E::kill_to_start},
      {ctrl_byte('U'), "Ctrl+U", nullptr, &E::kill_to_start, nullptr, false},
      {ctrl_byte('W'), "Ctrl+W", nullptr, &E::kill_blank_word_before},
      {alt(text_key('d')), "Alt+D", "delete the word after or before the cursor (also\nCtrl+Delete, after)",
       &E::kill_word_after, &E::kill_word_before},
      {ctrl(named_key(KeyName::Delete)), nullptr, nullptr, &E::kill_word_after, &E::kill_word_before},
      {alt(named_key(KeyName::Backspace)), "Alt+Backspace", nullptr, &E::kill_word_before, &E::kill_word_after},
      {alt(text_key('\\')), "Alt+\\", "delete the blanks around the cursor", &E::delete_blanks_around, nullptr, false},
      {ctrl_byte('Y'), "Ctrl+Y", "insert what the last deletions took; right after,\nwhat the ones before took instead",
       &E::yank, nullptr, false},
      {alt(text_key('y')), "Alt+Y", nullptr, &E::yank_previous, nullptr, false},
      {ctrl_byte('T'), "Ctrl+T", "swap two characters, two words", &E::transpose_characters},
      {alt(text_key('t')), "Alt+T", nullptr, nullptr, nullptr, true, &E::transpose_words},
      {alt(text_key('u')), "Alt+U", "the word in upper or lower case, capitalized", nullptr, nullptr, true,
       &E::upcase_words},
      {alt(text_key('l')), "Alt+L", nullptr, nullptr, nullptr, true, &E::downcase_words},
      {alt(text_key('c')), "Alt+C", nullptr, nullptr, nullptr, true, &E::capitalize_words},
      {ctrl_byte('_'), "Ctrl+_", "undo; Alt+R: undo everything", nullptr, nullptr, true, &E::undo_times},
      {ctrl_byte('X'), "Ctrl+X Ctrl+U", nullptr, nullptr, nullptr, true, &E::ctrl_x},  // Ctrl+X waits for Ctrl+U
      {alt(text_key('r')), nullptr, nullptr, &E::revert_line, nullptr, false},
      {kNotBound, "Alt+digits, Alt+-", "a count for the next key (Alt+3 x: xxx)"},  // taken by the prefix
      {ctrl_byte('V'), "Ctrl+V", "the next key's byte as it is", nullptr, nullptr, true, &E::quoted_insert},
      {ctrl_byte('D'), "Ctrl+D", "delete under the cursor; on an empty line, end", nullptr, nullptr, true,
       &E::delete_forward_or_end_input},
      {named_key(KeyName::Tab), "Tab", "blanks to the next stop of 8", &E::insert_tab},
      {named_key(KeyName::Escape), "Escape", "clear the line (Ctrl+Y or Ctrl+_ bring it back)", &E::clear, nullptr,
       false},
      {ctrl_byte('L'), "Ctrl+L", "clear the screen", &E::clear_screen, nullptr, false},
      {named_key(KeyName::Enter), "Enter", "take the line", &E::end_line, nullptr, false},
      {named_key(KeyName::PasteStart), nullptr, nullptr, &E::begin_paste, nullptr, false},
      {named_key(KeyName::PasteEnd), nullptr, nullptr, &E::end_paste, nullptr, false},
      {kNotBound, "Ctrl+C, Ctrl+Z", "quit, suspend"},  // the terminal's signals
  };
  return kBindings;
}

// Alt with a capital letter is Alt with the small one, as readline takes it.
const LineEditor::Binding* LineEditor::binding_for(const Key& key) {
  Key wanted = key;
  if (wanted.name == KeyName::Byte && wanted.modifiers == KEY_ALT && wanted.code >= 'A' && wanted.code <= 'Z')
    wanted.code += 'a' - 'A';
  for (const Binding& binding : bindings()) {
    if (binding.key == wanted && binding.key) return &binding;
  }
  return nullptr;
}

// The lines of --help's key list, from the bindings' names and help.
std::span<const KeyHelp> editor_key_help() {
  static const std::vector<KeyHelp> lines = [] {
    std::vector<KeyHelp> out;
    for (const LineEditor::Binding& binding : LineEditor::bindings()) {
      if (binding.name == nullptr) continue;
      if (binding.help != nullptr || out.empty()) {
        out.push_back({binding.name, binding.help != nullptr ? binding.help : ""});
      } else {
        out.back().keys += std::string(", ") + binding.name;
      }
    }
    return out;
  }();
  return lines;
}

// The keys of an incremental search (Ctrl+R, Ctrl+S) while it runs: text
// grows the query, and a key without a row here ends the search and acts.
const LineEditor::SearchBinding* LineEditor::search_binding_for(const Key& key) {
  using E = LineEditor;
  static constexpr SearchBinding kSearchBindings[] = {
      {named_key(KeyName::Enter), &E::search_take_line},
      {ctrl_byte('G'), &E::search_give_up},
      {named_key(KeyName::Escape), &E::search_give_up},
      {ctrl_byte('R'), &E::search_older},
      {ctrl_byte('S'), &E::search_newer},
      {named_key(KeyName::Backspace), &E::search_drop_character},
  };
  for (const SearchBinding& binding : kSearchBindings) {
    if (binding.key == key) return &binding;
  }
  return nullptr;
}

void LineEditor::apply(Key key) {
  if (key.pasted) return paste_byte(static_cast<uint8_t>(key.code));
  const bool typed = key_is_text(key) && !search_ && !prefix_.active();
  if (!typed) insert_typed();  // what was typed goes in before any other key acts
  // An Escape taken back comes right after it: what it cleared comes back.
  if (key.name == KeyName::EscapeTakenBack) return undo_escape();
  if (key == named_key(KeyName::Escape)) {
    before_escape_ = BeforeEscape{search_,         history_.shown(), position_,    prefix_,
                                  last_was_kill_,  gathering_kills_, last_was_yank_, yanked_from_,
                                  yanked_length_, undo_.changes()};
  } else {
    before_escape_.reset();
  }
  if (search_ && search_key(key)) return;
  // A count (Alt+digits and Alt+-, then digits), Ctrl+X or Ctrl+V in progress takes the key.
  switch (prefix_.take(key)) {
    case KeyPrefix::Taken::Yes:
      if (key.name == KeyName::PasteStart) break;  // Ctrl+X's second key, and a paste nonetheless
      return show_count();
    case KeyPrefix::Taken::Undo: return undo_times(prefix_.take_ctrl_x_count());
    case KeyPrefix::Taken::Quoted: return insert_quoted(key);
    case KeyPrefix::Taken::Minus: key = text_key('-'); break;
    case KeyPrefix::Taken::No: break;
  }
  const Count count = prefix_.take_count();
  if (count.given) show_count();
  // Consecutive kills gather into one piece, a yank may be replaced right
  // after; any other key ends both.
  gathering_kills_ = last_was_kill_;
  last_was_kill_ = false;
  const bool after_yank = last_was_yank_;
  last_was_yank_ = false;
  if (key_is_text(key)) return type_text(key, count);
  finish_character();  // a key that is not text ends an unfinished character
  if (key == alt(text_key('y')) && !after_yank) return;  // Alt+Y only right after a yank
  if (const Binding* binding = binding_for(key)) run_binding(*binding, count);
}

void LineEditor::run_binding(const Binding& binding, Count count) {
  if (binding.with_count != nullptr) return (this->*binding.with_count)(count);
  if (!binding.counted) return (this->*binding.action)();
  const Action action = count.value < 0 && binding.backward != nullptr ? binding.backward : binding.action;
  const int times = std::min(std::abs(count.value), KeyPrefix::kMostCount);
  undo_.open_group();  // a repeated command is undone as one
  for (int i = 0; i < times && !line_ended_; ++i) (this->*action)();
  undo_.end_group();
}

// While a count is typed readline shows it in place of the prompt, as "(arg: 3) ".
void LineEditor::show_count() {
  const std::optional<int> count = prefix_.shown_count();
  const std::string prompt = count ? "(arg: " + std::to_string(*count) + ") " : prompt_;
  if (search_ || prompt == view_.prompt()) return;
  view_.set_prompt(prompt);
  redraw_all_ = true;
}

std::string line_edit(int32_t mode, LineEnding* ending, std::string_view prompt, EditMemory* memory) {
  LineEnding ignored = LineEnding::Enter;
  if (ending == nullptr) ending = &ignored;
  *ending = LineEnding::Enter;
  const TakeOver taken = term_take_over();  // started in the background: the terminal is taken now
  if (!term_handling_active()) return read_plain_line(ending);
  LineEditor editor(mode, prompt, memory, taken == TakeOver::AfterStop);
  struct LineKeysOff {
    ~LineKeysOff() { term_line_keys_off(); }  // before the line end, or whatever comes next
  } line_keys_off;
  if (editor.run()) {
    if (editor.input_ended()) *ending = LineEnding::EndOfInput;
    return editor.take_line();
  }
  std::string line = editor.take_line();
  term_set_cursor_visibility(CURSOR_SHOW);
  if (!term_handling_active()) {
    // Terminal handling ended while editing (an ignored fatal signal restored
    // the terminal): the rest of the line comes through the terminal's own mode.
    line += read_plain_line(ending);
    if (*ending == LineEnding::EndOfInput && !line.empty()) *ending = LineEnding::Enter;
  } else if (line.empty()) {
    *ending = LineEnding::EndOfInput;  // the keyboard went away
  }
  return line;
}
