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
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "runtime/input/line_editor.h"
#include "runtime/stream/stream.h"
#include "runtime/term/term.h"

namespace {

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
    : memory_(memory),
      own_settings_(memory != nullptr ? EditSettings{} : edit_settings_from("")),
      settings_(memory != nullptr ? &memory->settings() : &own_settings_),
      soft_cursor_(mode != EDIT_WITH_TERMINAL_CURSOR),
      fresh_row_(fresh_row),
      prompt_(prompt),
      view_(prompt),
      history_(memory != nullptr ? &memory->histories[std::string(prompt)] : nullptr),
      kills_(memory != nullptr ? &memory->kills : &own_kills_) {
  keyboard_macro_ = memory != nullptr ? &memory->keyboard_macro : &own_macro_;
}

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
  if (settings_->keyseq_timeout > 0) term_set_escape_delay(settings_->keyseq_timeout);
  if (settings_->vi) {
    vi_editing_mode();
    vi_start_recording(text_key('i'), {});  // what is typed before the first Escape is an insertion . repeats
    state_.vi_recording_insert = true;
  }
  initial_visibility_ = term_cursor_visible() ? CURSOR_SHOW : CURSOR_HIDE;
  term_refresh();
  apply_terminal_settings(*settings_);
  term_line_keys_on();
  view_.set_scrolls_sideways(settings_->horizontal_scroll && !soft_cursor_);
  view_.start();
  if (fresh_row_) {  // the shell wrote its lines meanwhile
    show_cursor_as(CURSOR_HIDE);
    view_.follow_screen_change(line_, position_, true);
  }
  if (shown_prompt() != prompt_) {  // the mode's string: the prompt drawn again with it
    show_count();
    bring_screen_up_to_date();
  }
  idle_visibility_ = soft_cursor_ ? CURSOR_HIDE : CURSOR_SHOW;
  show_cursor_as(idle_visibility_);
  if (soft_cursor_) view_.show_soft_cursor(line_, position_, true);
}

// Waits until a key is there to take or a change of the screen is to be
// followed; false if the keyboard or terminal handling ended. Keys already
// queued come first: read_key_and_report_arrival only reports new arrivals.
// Blocks while idle: only a key, a signal or a deadline (a window settling, a
// sequence still arriving) ends the wait.
bool LineEditor::wait_for_input() {
  for (;;) {
    // With handling off, read_key_and_report_arrival only reports that standard input has not ended.
    if (!term_handling_active()) return false;
    int wait_ms = -1;
    if (view_.screen_changed() && view_.ready_to_follow(&wait_ms)) return true;
    if (!key_queue_empty() || read_key_and_report_arrival()) return true;
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
  if (!search_ && !mini_) show_count();  // a history line just edited gets its mark
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
  if (!input_ended_) {
    history_.take(line_, static_cast<std::size_t>(std::max(settings_->history_size, 0)), settings_->revert_all);
  }
}

void LineEditor::show_cursor_as(int32_t visibility) {
  if (term_cursor_visible() != (visibility == CURSOR_SHOW)) term_set_cursor_visibility(visibility);
}

// The keys of readline's default (emacs) mode that make sense on one line,
// and the PC keys, in the order --help lists them, each with readline's name
// for what it does; then the functions no key has by default, which an
// inputrc may bind. Bytes 32 to 255 without a binding are typed text; every
// other key is ignored. The search's keys are in the table after this one,
// the keys of a count and Ctrl+V in key_prefix.cpp.
std::span<const LineEditor::Binding> LineEditor::bindings() {
  using E = LineEditor;
  constexpr Key kLeft = named_key(KeyName::Left), kRight = named_key(KeyName::Right);
  constexpr Key kCtrlX = ctrl_byte('X');
  static constexpr Binding kBindings[] = {
      {kLeft, "Left", "a character back or forward", "backward-char", &E::move_left, &E::move_right},
      {kRight, "Right", nullptr, "forward-char", &E::move_right, &E::move_left},
      {ctrl_byte('B'), "Ctrl+B", nullptr, "backward-char", &E::move_left, &E::move_right},
      {ctrl_byte('F'), "Ctrl+F", nullptr, "forward-char", &E::move_right, &E::move_left},
      {ctrl(kLeft), "Ctrl+Left", "a word back or forward (also Alt+Left, Alt+Right,\nAlt+B, Alt+F)", "backward-word",
       &E::word_back, &E::word_forward},
      {ctrl(kRight), "Ctrl+Right", nullptr, "forward-word", &E::word_forward, &E::word_back},
      {alt(kLeft), nullptr, nullptr, "backward-word", &E::word_back, &E::word_forward},
      {alt(kRight), nullptr, nullptr, "forward-word", &E::word_forward, &E::word_back},
      {alt(text_key('b')), nullptr, nullptr, "backward-word", &E::word_back, &E::word_forward},
      {alt(text_key('f')), nullptr, nullptr, "forward-word", &E::word_forward, &E::word_back},
      {named_key(KeyName::Home), "Home", "the start or end of the line", "beginning-of-line", &E::move_home},
      {named_key(KeyName::End), "End", nullptr, "end-of-line", &E::move_end},
      {ctrl_byte('A'), "Ctrl+A", nullptr, "beginning-of-line", &E::move_home},
      {ctrl_byte('E'), "Ctrl+E", nullptr, "end-of-line", &E::move_end},
      {ctrl_byte(']'), "Ctrl+]", "to the next character typed (Alt+Ctrl+]: back)", "character-search",
       nullptr, nullptr, true, &E::character_search},
      {alt(ctrl_byte(']')), nullptr, nullptr, "character-search-backward", nullptr, nullptr, true,
       &E::character_search_backward},
      {ctrl_byte('@'), "Ctrl+@", "set the mark, swap it with the cursor", "set-mark", &E::set_mark,
       nullptr, false},
      {kCtrlX, "Ctrl+X Ctrl+X", nullptr, "exchange-point-and-mark", &E::exchange_point_and_mark, nullptr, false,
       nullptr, ctrl_byte('X')},
      {alt(text_key(' ')), nullptr, nullptr, "set-mark", &E::set_mark, nullptr, false},
      {named_key(KeyName::Up), "Up", "a row within a wrapped line, else the history", "up-line-or-history",
       &E::row_up_or_older, &E::row_down_or_newer},
      {named_key(KeyName::Down), "Down", nullptr, "down-line-or-history", &E::row_down_or_newer, &E::row_up_or_older},
      {ctrl_byte('P'), "Ctrl+P", "the previous or next line typed at this prompt", "previous-history",
       &E::recall_older, &E::recall_newer},
      {ctrl_byte('N'), "Ctrl+N", nullptr, "next-history", &E::recall_newer, &E::recall_older},
      {alt(text_key('<')), "Alt+<", "the first line of the history, the line being typed", "beginning-of-history",
       &E::recall_first, nullptr, false},
      {alt(text_key('>')), "Alt+>", nullptr, "end-of-history", &E::recall_last, nullptr, false},
      {alt(text_key('p')), "Alt+P", "search the history for a text typed after it", "non-incremental-reverse-search-history",
       &E::non_incremental_reverse_search, nullptr, false},
      {alt(text_key('n')), "Alt+N", nullptr, "non-incremental-forward-search-history", &E::non_incremental_forward_search,
       nullptr, false},
      {ctrl_byte('R'), "Ctrl+R", "search the history backward or forward as you type", "reverse-search-history",
       nullptr, nullptr, true, &E::search_backward},
      {ctrl_byte('S'), "Ctrl+S", nullptr, "forward-search-history", nullptr, nullptr, true, &E::search_forward},
      {alt(text_key('.')), "Alt+.", "the previous line's last word (with a count, that\nword; Alt+Ctrl+Y: its second)",
       "yank-last-arg", nullptr, nullptr, true, &E::yank_last_arg},
      {alt(text_key('_')), "Alt+_", nullptr, "yank-last-arg", nullptr, nullptr, true, &E::yank_last_arg},
      {alt(ctrl_byte('Y')), nullptr, nullptr, "yank-nth-arg", nullptr, nullptr, true, &E::yank_nth_arg},
      {named_key(KeyName::Backspace), "Backspace", "delete the character before or under the cursor",
       "backward-delete-char", nullptr, nullptr, true, &E::rubout},
      {named_key(KeyName::Delete), "Delete", nullptr, "delete-char", nullptr, nullptr, true, &E::delete_forward},
      {ctrl_byte('K'), "Ctrl+K", "delete to the end, to the start, the word before", "kill-line", &E::kill_to_end,
       &E::kill_to_start},
      {ctrl_byte('U'), "Ctrl+U", nullptr, "unix-line-discard", &E::kill_to_start, nullptr, false},
      {ctrl_byte('W'), "Ctrl+W", nullptr, "unix-word-rubout", &E::kill_blank_word_before},
      {kCtrlX, nullptr, nullptr, "backward-kill-line", &E::kill_to_start, &E::kill_to_end, true, nullptr,
       named_key(KeyName::Backspace)},
      {alt(text_key('d')), "Alt+D", "delete the word after or before the cursor (also\nCtrl+Delete, after)",
       "kill-word", &E::kill_word_after, &E::kill_word_before},
      {ctrl(named_key(KeyName::Delete)), nullptr, nullptr, "kill-word", &E::kill_word_after, &E::kill_word_before},
      {alt(named_key(KeyName::Backspace)), "Alt+Backspace", nullptr, "backward-kill-word", &E::kill_word_before,
       &E::kill_word_after},
      {alt(text_key('\\')), "Alt+\\", "delete the blanks around the cursor", "delete-horizontal-space",
       &E::delete_blanks_around, nullptr, false},
      {ctrl_byte('Y'), "Ctrl+Y", "insert what the last deletions took; right after,\nwhat the ones before took instead",
       "yank", &E::yank, nullptr, false},
      {alt(text_key('y')), "Alt+Y", nullptr, "yank-pop", &E::yank_previous, nullptr, false},
      {ctrl_byte('T'), "Ctrl+T", "swap two characters, two words", "transpose-chars", nullptr, nullptr, true,
       &E::transpose_characters},
      {alt(text_key('t')), "Alt+T", nullptr, "transpose-words", nullptr, nullptr, true, &E::transpose_words},
      {alt(text_key('u')), "Alt+U", "the word in upper or lower case, capitalized", "upcase-word", nullptr, nullptr,
       true, &E::upcase_words},
      {alt(text_key('l')), "Alt+L", nullptr, "downcase-word", nullptr, nullptr, true, &E::downcase_words},
      {alt(text_key('c')), "Alt+C", nullptr, "capitalize-word", nullptr, nullptr, true, &E::capitalize_words},
      {ctrl_byte('_'), "Ctrl+_", "undo; Alt+R: undo everything", "undo", nullptr, nullptr, true, &E::undo_times},
      {kCtrlX, "Ctrl+X Ctrl+U", nullptr, "undo", nullptr, nullptr, true, &E::undo_times, ctrl_byte('U')},
      {alt(text_key('r')), nullptr, nullptr, "revert-line", &E::revert_line, nullptr, false},
      {alt(ctrl_byte('R')), nullptr, nullptr, "revert-line", &E::revert_line, nullptr, false},
      {kNotBound, "Alt+digits, Alt+-", "a count for the next key (Alt+3 x: xxx)"},  // taken by the prefix
      {ctrl_byte('V'), "Ctrl+V", "the next key's byte as it is", "quoted-insert", nullptr, nullptr, true,
       &E::quoted_insert},
      {ctrl_byte('Q'), nullptr, nullptr, "quoted-insert", nullptr, nullptr, true, &E::quoted_insert},
      {ctrl_byte('D'), "Ctrl+D", "delete under the cursor; on an empty line, end", "delete-char", nullptr, nullptr,
       true, &E::delete_forward},
      {named_key(KeyName::Tab), "Tab", "blanks to the next stop of 8", "tab-insert", nullptr, nullptr, true, &E::insert_tab},
      {alt(named_key(KeyName::Tab)), nullptr, nullptr, "tab-insert", nullptr, nullptr, true, &E::insert_tab},
      {alt(text_key('#')), "Alt+#", "the line as a comment, taken", "insert-comment", nullptr, nullptr, true,
       &E::insert_comment},
      {named_key(KeyName::Escape), "Escape", "clear the line (Ctrl+Y or Ctrl+_ bring it back)", "clear-line",
       &E::clear, nullptr, false},
      {ctrl_byte('G'), "Ctrl+G", "cancel a count or a key sequence, ring the bell", "abort", &E::abort_keys,
       nullptr, false},
      {kCtrlX, nullptr, nullptr, "abort", &E::abort_keys, nullptr, false, nullptr, ctrl_byte('G')},
      {alt(ctrl_byte('G')), nullptr, nullptr, "abort", &E::abort_keys, nullptr, false},
      {ctrl_byte('L'), "Ctrl+L", "clear the screen", "clear-screen", &E::clear_screen, nullptr, false},
      {kCtrlX, "Ctrl+X (", "record keys, stop, type them again", "start-kbd-macro",
       &E::start_kbd_macro, nullptr, false, nullptr, text_key('(')},
      {kCtrlX, "Ctrl+X )", nullptr, "end-kbd-macro", &E::end_kbd_macro, nullptr, false, nullptr, text_key(')')},
      {kCtrlX, "Ctrl+X e", nullptr, "call-last-kbd-macro", nullptr, nullptr, true, &E::call_last_kbd_macro,
       text_key('e')},
      {kCtrlX, "Ctrl+X Ctrl+R", "read the inputrc file again", "re-read-init-file", &E::re_read_init_file, nullptr,
       false, nullptr, ctrl_byte('R')},
      {named_key(KeyName::Enter), "Enter", "take the line", "accept-line", &E::end_line, nullptr, false},
      {named_key(KeyName::PasteStart), nullptr, nullptr, "bracketed-paste-begin", &E::begin_paste, nullptr, false},
      {named_key(KeyName::PasteEnd), nullptr, nullptr, nullptr, &E::end_paste, nullptr, false},
      {kNotBound, "Ctrl+C, Ctrl+Z", "quit, suspend"},  // the terminal's signals
      // Completion has nothing to complete here: a bell, as readline rings when there is nothing.
      {alt(text_key('?')), nullptr, nullptr, "possible-completions", &E::ring_bell_only, nullptr, false},
      {alt(text_key('=')), nullptr, nullptr, "possible-completions", &E::ring_bell_only, nullptr, false},
      {alt(text_key('*')), nullptr, nullptr, "insert-completions", &E::ring_bell_only, nullptr, false},
      {alt(named_key(KeyName::Escape)), nullptr, nullptr, "complete", &E::ring_bell_only, nullptr, false},
      // Functions without a key of their own.
      {kNotBound, nullptr, nullptr, "self-insert", nullptr, nullptr, true, &E::self_insert},
      {kNotBound, nullptr, nullptr, "history-search-backward", &E::history_search_backward,
       &E::history_search_forward},
      {kNotBound, nullptr, nullptr, "history-search-forward", &E::history_search_forward, &E::history_search_backward},
      {kNotBound, nullptr, nullptr, "history-substring-search-backward", &E::history_substring_search_backward,
       &E::history_substring_search_forward},
      {kNotBound, nullptr, nullptr, "history-substring-search-forward", &E::history_substring_search_forward,
       &E::history_substring_search_backward},
      {kNotBound, nullptr, nullptr, "kill-whole-line", &E::kill_whole_line, nullptr, false},
      {kNotBound, nullptr, nullptr, "kill-region", &E::kill_region, nullptr, false},
      {kNotBound, nullptr, nullptr, "copy-region-as-kill", &E::copy_region_as_kill, nullptr, false},
      {kNotBound, nullptr, nullptr, "copy-backward-word", nullptr, nullptr, true, &E::copy_backward_word},
      {kNotBound, nullptr, nullptr, "copy-forward-word", nullptr, nullptr, true, &E::copy_forward_word},
      {kNotBound, nullptr, nullptr, "unix-filename-rubout", &E::unix_filename_rubout},
      {kNotBound, nullptr, nullptr, "overwrite-mode", nullptr, nullptr, true, &E::overwrite_mode},
      {kNotBound, nullptr, nullptr, "redraw-current-line", &E::redraw_current_line, nullptr, false},
      {kNotBound, nullptr, nullptr, "do-lowercase-version", &E::do_lowercase_version, nullptr, false},
      {kNotBound, nullptr, nullptr, "prefix-meta", &E::prefix_meta, nullptr, false},
      {kNotBound, nullptr, nullptr, "previous-screen-line", &E::screen_line_up, nullptr},
      {kNotBound, nullptr, nullptr, "next-screen-line", &E::screen_line_down, nullptr},
      // Alt+Ctrl+J arrives as ESC LF, which is Alt with Enter.
      {alt(named_key(KeyName::Enter)), "Alt+Ctrl+J", "vi mode (as set editing-mode vi in the inputrc)",
       "vi-editing-mode", &E::vi_editing_mode, nullptr, false},
      {kNotBound, nullptr, nullptr, "emacs-editing-mode", &E::emacs_editing_mode, nullptr, false},
      {kNotBound, nullptr, nullptr, "menu-complete", &E::ring_bell_only, nullptr, false},
      {kNotBound, nullptr, nullptr, "menu-complete-backward", &E::ring_bell_only, nullptr, false},
      {kNotBound, nullptr, nullptr, "old-menu-complete", &E::ring_bell_only, nullptr, false},
      // vi mode's (its keys in bind_vi_defaults).
      {kNotBound, nullptr, nullptr, "vi-movement-mode", &E::vi_movement_mode, nullptr, false},
      {kNotBound, nullptr, nullptr, "vi-insertion-mode", &E::vi_insertion_mode, nullptr, false},
      {kNotBound, nullptr, nullptr, "vi-append-mode", &E::vi_append_mode, nullptr, false},
      {kNotBound, nullptr, nullptr, "vi-insert-beg", &E::vi_insert_beg, nullptr, false},
      {kNotBound, nullptr, nullptr, "vi-append-eol", &E::vi_append_eol, nullptr, false},
      {kNotBound, nullptr, nullptr, "vi-forward-word", &E::vi_forward_word, &E::vi_backward_word},
      {kNotBound, nullptr, nullptr, "vi-forward-bigword", &E::vi_forward_bigword, &E::vi_backward_bigword},
      {kNotBound, nullptr, nullptr, "vi-backward-word", &E::vi_backward_word, &E::vi_forward_word},
      {kNotBound, nullptr, nullptr, "vi-backward-bigword", &E::vi_backward_bigword, &E::vi_forward_bigword},
      {kNotBound, nullptr, nullptr, "vi-end-word", &E::vi_end_word},
      {kNotBound, nullptr, nullptr, "vi-end-bigword", &E::vi_end_bigword},
      {kNotBound, nullptr, nullptr, "vi-first-print", &E::vi_first_print, nullptr, false},
      {kNotBound, nullptr, nullptr, "vi-column", nullptr, nullptr, true, &E::vi_column},
      {kNotBound, nullptr, nullptr, "vi-match", &E::vi_match, nullptr, false},
      {kNotBound, nullptr, nullptr, "vi-char-search", nullptr, nullptr, true, &E::vi_char_search},
      {kNotBound, nullptr, nullptr, "vi-delete-to", nullptr, nullptr, true, &E::vi_operator},
      {kNotBound, nullptr, nullptr, "vi-change-to", nullptr, nullptr, true, &E::vi_operator},
      {kNotBound, nullptr, nullptr, "vi-yank-to", nullptr, nullptr, true, &E::vi_operator},
      {kNotBound, nullptr, nullptr, "vi-delete", nullptr, nullptr, true, &E::vi_delete},
      {kNotBound, nullptr, nullptr, "vi-rubout", nullptr, nullptr, true, &E::vi_rubout},
      {kNotBound, nullptr, nullptr, "vi-change-char", nullptr, nullptr, true, &E::vi_change_char_key},
      {kNotBound, nullptr, nullptr, "vi-replace", &E::vi_replace, nullptr, false},
      {kNotBound, nullptr, nullptr, "vi-change-case", nullptr, nullptr, true, &E::vi_change_case},
      {kNotBound, nullptr, nullptr, "vi-put", nullptr, nullptr, true, &E::vi_put},
      {kNotBound, nullptr, nullptr, "vi-undo", nullptr, nullptr, true, &E::vi_undo},
      {kNotBound, nullptr, nullptr, "vi-redo", nullptr, nullptr, true, &E::vi_redo},
      {kNotBound, nullptr, nullptr, "vi-subst", nullptr, nullptr, true, &E::vi_subst},
      {kNotBound, nullptr, nullptr, "vi-fetch-history", nullptr, nullptr, true, &E::vi_fetch_history},
      {kNotBound, nullptr, nullptr, "vi-search", &E::vi_search, nullptr, false},
      {kNotBound, nullptr, nullptr, "vi-search-again", &E::vi_search_again},
      {kNotBound, nullptr, nullptr, "vi-eof-maybe", &E::vi_eof_maybe, nullptr, false},
  };
  return kBindings;
}

// vi mode's keys, as readline binds them: the arrows, Home, End and Delete
// in both modes, and in insert mode the control keys readline gives it.
void LineEditor::bind_vi_defaults(KeyBindings* keys) {
  using K = KeyName;
  static constexpr struct {
    Keymap keymap;
    Key key;
    const char* function;
  } kViKeys[] = {
      {Keymap::ViInsert, named_key(K::Escape), "vi-movement-mode"},
      {Keymap::ViInsert, named_key(K::Backspace), "backward-delete-char"},
      {Keymap::ViInsert, ctrl_byte('W'), "unix-word-rubout"},
      {Keymap::ViInsert, ctrl_byte('U'), "unix-line-discard"},
      {Keymap::ViInsert, ctrl_byte('V'), "quoted-insert"},
      {Keymap::ViInsert, ctrl_byte('T'), "transpose-chars"},
      {Keymap::ViInsert, ctrl_byte('Y'), "yank"},
      {Keymap::ViInsert, ctrl_byte('R'), "reverse-search-history"},
      {Keymap::ViInsert, ctrl_byte('S'), "forward-search-history"},
      {Keymap::ViInsert, ctrl_byte('D'), "vi-eof-maybe"},
      {Keymap::ViInsert, named_key(K::Tab), "tab-insert"},
      {Keymap::ViCommand, named_key(K::Escape), "abort"},
      {Keymap::ViCommand, text_key('h'), "backward-char"},
      {Keymap::ViCommand, text_key('l'), "forward-char"},
      {Keymap::ViCommand, text_key(' '), "forward-char"},
      {Keymap::ViCommand, text_key('w'), "vi-forward-word"},
      {Keymap::ViCommand, text_key('W'), "vi-forward-bigword"},
      {Keymap::ViCommand, text_key('b'), "vi-backward-word"},
      {Keymap::ViCommand, text_key('B'), "vi-backward-bigword"},
      {Keymap::ViCommand, text_key('e'), "vi-end-word"},
      {Keymap::ViCommand, text_key('E'), "vi-end-bigword"},
      {Keymap::ViCommand, text_key('0'), "beginning-of-line"},
      {Keymap::ViCommand, text_key('^'), "vi-first-print"},
      {Keymap::ViCommand, text_key('$'), "end-of-line"},
      {Keymap::ViCommand, text_key('|'), "vi-column"},
      {Keymap::ViCommand, text_key('%'), "vi-match"},
      {Keymap::ViCommand, text_key('f'), "vi-char-search"},
      {Keymap::ViCommand, text_key('F'), "vi-char-search"},
      {Keymap::ViCommand, text_key('t'), "vi-char-search"},
      {Keymap::ViCommand, text_key('T'), "vi-char-search"},
      {Keymap::ViCommand, text_key(';'), "vi-char-search"},
      {Keymap::ViCommand, text_key(','), "vi-char-search"},
      {Keymap::ViCommand, text_key('d'), "vi-delete-to"},
      {Keymap::ViCommand, text_key('D'), "vi-delete-to"},
      {Keymap::ViCommand, text_key('c'), "vi-change-to"},
      {Keymap::ViCommand, text_key('C'), "vi-change-to"},
      {Keymap::ViCommand, text_key('y'), "vi-yank-to"},
      {Keymap::ViCommand, text_key('Y'), "vi-yank-to"},
      {Keymap::ViCommand, text_key('x'), "vi-delete"},
      {Keymap::ViCommand, named_key(K::Delete), "vi-delete"},
      {Keymap::ViCommand, text_key('X'), "vi-rubout"},
      {Keymap::ViCommand, text_key('r'), "vi-change-char"},
      {Keymap::ViCommand, text_key('R'), "vi-replace"},
      {Keymap::ViCommand, text_key('~'), "vi-change-case"},
      {Keymap::ViCommand, text_key('p'), "vi-put"},
      {Keymap::ViCommand, text_key('P'), "vi-put"},
      {Keymap::ViCommand, text_key('u'), "vi-undo"},
      {Keymap::ViCommand, text_key('U'), "revert-line"},
      {Keymap::ViCommand, text_key('.'), "vi-redo"},
      {Keymap::ViCommand, text_key('s'), "vi-subst"},
      {Keymap::ViCommand, text_key('S'), "vi-subst"},
      {Keymap::ViCommand, text_key('i'), "vi-insertion-mode"},
      {Keymap::ViCommand, named_key(K::Insert), "vi-insertion-mode"},
      {Keymap::ViCommand, text_key('a'), "vi-append-mode"},
      {Keymap::ViCommand, text_key('I'), "vi-insert-beg"},
      {Keymap::ViCommand, text_key('A'), "vi-append-eol"},
      {Keymap::ViCommand, text_key('k'), "previous-history"},
      {Keymap::ViCommand, text_key('-'), "previous-history"},
      {Keymap::ViCommand, text_key('j'), "next-history"},
      {Keymap::ViCommand, text_key('+'), "next-history"},
      {Keymap::ViCommand, text_key('G'), "vi-fetch-history"},
      {Keymap::ViCommand, text_key('/'), "vi-search"},
      {Keymap::ViCommand, text_key('?'), "vi-search"},
      {Keymap::ViCommand, text_key('n'), "vi-search-again"},
      {Keymap::ViCommand, text_key('N'), "vi-search-again"},
      {Keymap::ViCommand, text_key('#'), "insert-comment"},
      {Keymap::ViCommand, ctrl_byte('D'), "vi-eof-maybe"},
      {Keymap::ViCommand, ctrl_byte('R'), "reverse-search-history"},
      {Keymap::ViCommand, ctrl_byte('S'), "forward-search-history"},
  };
  // Keys both modes share with emacs mode's.
  for (const Keymap map : {Keymap::ViInsert, Keymap::ViCommand}) {
    for (const Key key : {named_key(K::Left), named_key(K::Right), named_key(K::Up), named_key(K::Down),
                          named_key(K::Home), named_key(K::End), named_key(K::Delete), named_key(K::Enter),
                          named_key(K::PasteStart), named_key(K::PasteEnd), ctrl_byte('L')}) {
      const KeyBindings::Found found = keys->find(Keymap::Emacs, std::span(&key, 1));
      if (found.whole != nullptr) keys->bind(map, {key}, *found.whole);
    }
  }
  for (const auto& row : kViKeys) keys->bind(row.keymap, {row.key}, Command{function_named(row.function), {}});
}

int LineEditor::function_named(std::string_view name) {
  const std::span<const Binding> rows = bindings();
  for (std::size_t row = 0; row < rows.size(); ++row) {
    const char* function = rows[row].function;
    if (function != nullptr && name.size() == std::strlen(function) &&
        std::equal(name.begin(), name.end(), function,
                   [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; }))
      return static_cast<int>(row);
  }
  return -1;
}

void LineEditor::bind_defaults(KeyBindings* keys) {
  const std::span<const Binding> rows = bindings();
  for (std::size_t row = 0; row < rows.size(); ++row) {
    const Binding& binding = rows[row];
    if (!binding.key) continue;
    std::vector<Key> sequence{binding.key};
    if (binding.then) sequence.push_back(binding.then);
    keys->bind(Keymap::Emacs, std::move(sequence), Command{static_cast<int>(row), {}});
  }
  bind_vi_defaults(keys);
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
      {ctrl_byte('W'), &E::search_add_word},
      {ctrl_byte('Y'), &E::search_add_rest},
  };
  for (const SearchBinding& binding : kSearchBindings) {
    if (binding.key == key) return &binding;
  }
  return nullptr;
}

void LineEditor::apply(Key key) {
  if (vi_splits_alt(key)) {  // in vi mode an Alt key no binding takes is the Escape and the key, typed quickly
    apply(named_key(KeyName::Escape));
    return apply(Key{key.name, static_cast<uint8_t>(key.modifiers & ~KEY_ALT), key.keypad, false, key.code});
  }
  // What an Escape may have to give back, as it is before the Escape is recorded as a key of the change.
  std::optional<KeyState> before_key;
  if (key == named_key(KeyName::Escape)) before_key = state_;
  if (recording_macro_ && macro_depth_ == 0) recorded_.push_back(key);
  if (state_.vi_recording && !vi_replaying_) state_.vi_keys.push_back(key);
  if (key.pasted) return paste_byte(static_cast<uint8_t>(key.code));
  if (!typed_as_text(key)) insert_typed();  // what was typed goes in before any other key acts
  // An Escape taken back comes right after it: what it cleared comes back.
  if (key.name == KeyName::EscapeTakenBack) return undo_escape();
  if (before_key) {
    before_escape_ = BeforeEscape{std::move(*before_key), search_, history_.shown(), position_, undo_.changes()};
  } else {
    before_escape_.reset();
  }
  if (search_ && search_key(key)) return;
  if (mini_) return text_search_key(key);
  if (state_.meta_next && key.name != KeyName::PasteStart) {
    state_.meta_next = false;
    key = alt(key);
  }
  if (awaited_ != Awaited::None) {  // the key a command asked for
    const Awaited what = std::exchange(awaited_, Awaited::None);
    if (what == Awaited::ViCharacter) {
      vi_search_character(key, awaited_count_);
    } else if (what == Awaited::ViReplacement) {
      vi_change_char(key, awaited_count_);
    } else {
      search_character(key, what == Awaited::CharacterBackward, awaited_count_);
    }
    if (!state_.vi_pending && awaited_ == Awaited::None) vi_keep_on_a_character();  // the command is done
    return;
  }
  if (state_.vi_pending) {
    vi_pending_key(key);
    if (!state_.vi_pending && awaited_ == Awaited::None) vi_keep_on_a_character();
    return;
  }
  // A count (Alt+digits and Alt+-, then digits) or Ctrl+V in progress takes the key.
  if (state_.sequence.empty()) {
    switch (state_.prefix.take(key)) {
      case KeyPrefix::Taken::Yes: return show_count();
      case KeyPrefix::Taken::Quoted: return insert_quoted(key);
      case KeyPrefix::Taken::Minus: key = text_key('-'); break;
      case KeyPrefix::Taken::No: break;
    }
  }
  // Ctrl+D on an empty line ends the input, whatever it is bound to, as readline's end-of-file character does.
  if (key == ctrl_byte('D') && line_.empty() && state_.sequence.empty() && !state_.prefix.active()) {
    input_ended_ = line_ended_ = true;
    return;
  }
  dispatch(key);
}

// The key joins the keys of a sequence begun (or begins one): a whole
// sequence runs its command; the start of a longer one waits for more;
// keys that begin no sequence are nothing, but that a shorter sequence
// bound on the way runs and the last key then acts afresh.
void LineEditor::dispatch(const Key& key) {
  const bool paste_mark = key.name == KeyName::PasteStart || key.name == KeyName::PasteEnd;
  if (paste_mark) state_.sequence.clear();  // a paste is a paste, whatever came before it
  state_.sequence.push_back(key);
  KeyBindings::Found found = settings_->keys.find(state_.keymap, state_.sequence);
  if (!found.whole && !found.longer && key.name == KeyName::Byte && key.modifiers == KEY_ALT && key.code >= 'A' &&
      key.code <= 'Z') {  // Alt with a capital is Alt with the small one, as readline's do-lowercase-version
    state_.sequence.back().code += 'a' - 'A';
    found = settings_->keys.find(state_.keymap, state_.sequence);
  }
  if (found.longer) {
    waiting_command_ = found.whole;
    return;
  }
  std::vector<Key> keys = std::exchange(state_.sequence, {});
  const Command* waited = std::exchange(waiting_command_, nullptr);
  command_keys_ = keys.size();
  if (found.whole == nullptr && keys.size() > 1) {
    if (waited == nullptr) return;  // Ctrl+X and a key it has nothing for: both are nothing
    run_command(waited, keys[keys.size() - 2]);
    return dispatch(key);
  }
  run_command(found.whole, key);
}

void LineEditor::run_command(const Command* command, const Key& key) {
  const Count count = state_.prefix.take_count();
  if (count.given) show_count();
  // Consecutive kills gather into one piece, a yank may be replaced right
  // after; any other key ends both.
  state_.gathering_kills = state_.last_was_kill;
  state_.last_was_kill = false;
  after_yank_ = state_.last_was_yank;
  state_.last_was_yank = false;
  current_key_ = key;
  this_command_ = nullptr;
  if (command != nullptr && command->function >= 0) this_command_ = &bindings()[static_cast<std::size_t>(command->function)];
  const bool vi_command = state_.keymap == Keymap::ViCommand;
  if (vi_command && this_command_ != nullptr && this_command_->with_count != &LineEditor::vi_redo)
    vi_start_recording(key, count);
  if (command == nullptr && key_is_text(key) && !vi_command) {
    type_text(key, count);
  } else {
    finish_character();  // a key that is not text ends an unfinished character
    if (command != nullptr && command->function < 0) {
      run_macro(command->macro);
    } else if (this_command_ != nullptr) {
      run_binding(*this_command_, count);
    }
  }
  state_.last_command = this_command_;
  // A command done (not an operator or a search awaiting its key) leaves the
  // cursor on a character, unless it was p with nothing to put.
  if (!state_.vi_pending && awaited_ == Awaited::None) vi_keep_on_a_character();
  if (!mini_ && !search_) show_count();  // the mode's string may have changed
}

// A macro's keys act as if typed, each in turn; a macro within a macro is
// followed a few deep, so one that names itself ends.
void LineEditor::run_macro(const std::vector<Key>& keys) {
  constexpr int kMostMacroDepth = 16;
  if (macro_depth_ >= kMostMacroDepth) return;
  ++macro_depth_;
  for (const Key& key : keys) {
    if (line_ended_) break;
    apply(key);
  }
  insert_typed();
  --macro_depth_;
}

// A text key is typed, gathering with the text before it, unless a
// search, a count, a sequence or a binding of its own takes it.
bool LineEditor::typed_as_text(const Key& key) const {
  if (!key_is_text(key) || search_ || state_.prefix.active() || !state_.sequence.empty() || awaited_ != Awaited::None ||
      state_.meta_next || overwrite_ || mini_ || state_.vi_pending || state_.keymap == Keymap::ViCommand)
    return false;
  const KeyBindings::Found found = settings_->keys.find(state_.keymap, std::span(&key, 1));
  return found.whole == nullptr && !found.longer;
}

bool LineEditor::vi_splits_alt(const Key& key) const {
  if (state_.keymap == Keymap::Emacs || (key.modifiers & KEY_ALT) == 0 || !state_.sequence.empty() || key.pasted)
    return false;
  const KeyBindings::Found found = settings_->keys.find(state_.keymap, std::span(&key, 1));
  return found.whole == nullptr && !found.longer;
}

void LineEditor::ring_bell() {
  if (settings_->bell == EditSettings::Bell::None) return;
  if (settings_->bell == EditSettings::Bell::Visible && term_flash()) return;
  term_emit(CAP_BELL, 0, 0);
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

// The prompt with the editing mode's string before it, where the inputrc asks for it.
// A history line that was edited has a "*" before it all, where the inputrc asks for that too.
std::string LineEditor::shown_prompt() const {
  const std::string modified = settings_->mark_modified && !history_.at_newest() && !undo_.empty() ? "*" : "";
  if (!settings_->show_mode) return modified + prompt_;
  if (state_.keymap == Keymap::Emacs) return modified + settings_->emacs_mode_string + prompt_;
  const std::string& mode = state_.keymap == Keymap::ViInsert ? settings_->vi_ins_mode_string
                                                              : settings_->vi_cmd_mode_string;
  return modified + mode + prompt_;
}

// While a count is typed readline shows it in place of the prompt, as "(arg: 3) ".
void LineEditor::show_count() {
  const std::optional<int> count = state_.prefix.shown_count();
  const std::string prompt = count ? "(arg: " + std::to_string(*count) + ") " : shown_prompt();
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
