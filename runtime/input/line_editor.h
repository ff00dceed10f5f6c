// SPDX-License-Identifier: MIT
// The line editor's state: the line and the cursor's place in it, the view
// that draws them, the walk through the prompt's history, the undo list, the
// kill ring, and what the last keys started (a count, Ctrl+X, Ctrl+V, a
// history search). The key loop and the key table are in line_edit.cpp, the
// commands in edit_commands.cpp and edit_search.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "runtime/input/edit_memory.h"
#include "runtime/input/edit_settings.h"
#include "runtime/input/input_internal.h"
#include "runtime/input/key_prefix.h"
#include "runtime/input/line_view.h"
#include "runtime/term/term.h"

// The text without its last character: a whole UTF-8 character in a UTF-8 locale.
void drop_last_character(std::string* text);

class LineEditor {
 public:
  LineEditor(int32_t mode, std::string_view prompt, EditMemory* memory, bool fresh_row);

  // Runs the key loop until Enter or Ctrl+D on an empty line; false when the
  // keyboard went away first.
  bool run();
  std::string take_line() { return std::move(line_); }
  bool input_ended() const { return input_ended_; }

  // Told after each drawing what the screen should show: for tests that check it after every key.
  using Observer = void (*)(const LineView& view, const std::string& line, std::size_t position);
  static inline Observer observer = nullptr;

  using Action = void (LineEditor::*)();
  using Count = KeyPrefix::Count;
  using CountedAction = void (LineEditor::*)(Count);
  // A row of the key table: a key (or two, as Ctrl+X Ctrl+U), what it does
  // by readline's name for it (what an inputrc binds), and what --help says
  // of it: the key's name and its line's text (a row without text joins the
  // line above; a row without a name is one that a line's text names). What
  // it does is its action, the one a negative count turns it into, and
  // whether a count repeats it; or an action that takes the count itself. A
  // row for kNotBound is a function no key has by default, or a line of
  // --help only, for keys whose meaning lies elsewhere (a count's keys, the
  // terminal's signals).
  static constexpr Key kNotBound{};
  struct Binding {
    Key key;
    const char* name;
    const char* help;
    const char* function = nullptr;
    Action action = nullptr;
    Action backward = nullptr;
    bool counted = true;
    CountedAction with_count = nullptr;
    Key then = {};
  };
  static std::span<const Binding> bindings();
  // The row of the first binding of a function by its readline name (in any case), or -1.
  static int function_named(std::string_view name);
  // Binds the table's keys to their rows.
  static void bind_defaults(KeyBindings* keys);

 private:
  // --- The loop and the screen (line_edit.cpp) ---
  void start();
  bool wait_for_input();
  void follow_screen_change(bool now);
  void apply_waiting_keys();
  void bring_screen_up_to_date();
  void finish();
  void show_cursor_as(int32_t visibility);
  void apply(Key key);
  void dispatch(const Key& key);
  void run_command(const Command* command, const Key& key);
  void run_binding(const Binding& binding, Count count);
  void run_macro(const std::vector<Key>& keys);
  void show_count();  // "(arg: N) " in place of the prompt while a count is typed
  bool typed_as_text(const Key& key) const;
  std::string shown_prompt() const;
  bool vi_splits_alt(const Key& key) const;
  void ring_bell();

  // --- Commands (edit_commands.cpp) ---
  void move_home();
  void move_end();
  void move_left();
  void move_right();
  void word_back();
  void word_forward();
  void row_up_or_older();
  void row_down_or_newer();
  bool move_rows(int32_t rows);
  void screen_line_up() { move_rows(-1); }
  void screen_line_down() { move_rows(1); }
  void move_to(std::size_t position);
  std::size_t next_unit(std::size_t at) const;
  std::size_t word_start_before(std::size_t at);
  std::size_t word_end_after(std::size_t at) const;
  std::size_t words_moved(std::size_t at, int words);  // by word ends forward, word starts back

  void type_text(const Key& key, Count count);
  void type_byte(char byte, Count count);
  void finish_character();
  void overwrite_with(const std::string& character, int times);
  void insert_typed();
  void insert_tab(Count count);
  std::size_t cells_before_cursor() const;
  static std::size_t blanks_to_tab_stop(std::size_t cells);
  void paste_tab();
  void insert(const std::string& bytes, bool typed = false);
  void yank();
  void yank_previous();
  void quoted_insert(Count count) { state_.prefix.start_quoting(count); }
  void insert_quoted(const Key& key);
  // A bracketed paste: its text goes in as one change, its line breaks end the line.
  void begin_paste();
  void end_paste();
  void paste_byte(uint8_t byte);
  void insert_pasted();
  void delete_before();
  void delete_under();
  void rubout(Count count);
  void delete_forward(Count count);
  void rub_out_overwriting();
  void kill_to_end();
  void kill_to_start();
  void kill_word_after();
  void kill_word_before();
  void kill_blank_word_before();
  void kill(std::size_t from, std::size_t to, bool backward);
  void delete_blanks_around();
  void clear();
  void undo_escape();

  void transpose_characters(Count count);
  void transpose_words(Count count);
  void upcase_words(Count count) { change_case(TextCase::Upper, count.value); }
  void downcase_words(Count count) { change_case(TextCase::Lower, count.value); }
  void capitalize_words(Count count) { change_case(TextCase::Capitalize, count.value); }
  void change_case(TextCase mode, int words);
  void undo() { undo_group(false); }
  void undo_times(Count count);
  void undo_group(bool cursor_as_before);
  void revert_line();
  void clear_screen() { clear_screen_ = true; }
  void redraw_current_line() { redraw_all_ = true; }
  void end_line() { line_ended_ = true; }

  // --- readline's other one-line commands (edit_more.cpp) ---
  void self_insert(Count count) { type_text(current_key_, count); }
  void re_read_init_file();
  void abort_keys();
  void ring_bell_only() { ring_bell(); }  // completion: nothing to complete here
  void do_lowercase_version();
  void prefix_meta() { state_.meta_next = true; }
  void kill_whole_line();
  void unix_filename_rubout();
  void set_mark() { mark_ = position_; }
  void exchange_point_and_mark();
  void kill_region();
  void copy_region_as_kill();
  void copy_backward_word(Count count);
  void copy_forward_word(Count count);
  void copy_to_kills(std::size_t from, std::size_t to, bool backward);
  void overwrite_mode(Count count);
  void insert_comment(Count count);
  void character_search(Count count) { await_key(Awaited::CharacterForward, count); }
  void character_search_backward(Count count) { await_key(Awaited::CharacterBackward, count); }
  void search_character(const Key& key, bool backward, Count count);
  std::optional<std::size_t> character_target(const Key& key, int count, bool backward, bool till);
  static std::string character_of(const Key& key);
  // Alt+P, Alt+N, and vi's / and ?: a text typed first, then searched for.
  void non_incremental_reverse_search();
  void non_incremental_forward_search();
  void begin_text_search(bool backward, char shown);
  void show_text_search();
  void end_text_search();
  void text_search_key(const Key& key);
  void search_text(const std::string& wanted, bool backward, bool vi);
  struct MiniSearch {
    bool backward;
    char shown;          // ":" or vi's key, before the text typed
    std::string query;
    std::string line;    // the line and its undo list, as they were before
    std::size_t position;
    UndoList undo;
  };
  std::optional<MiniSearch> mini_;
  std::string last_text_query_;
  bool last_text_backward_ = true;
  void start_kbd_macro();
  void end_kbd_macro();
  void call_last_kbd_macro(Count count);
  // A command that reads the key after it (Ctrl+], Alt+Ctrl+]).
  enum class Awaited { None, CharacterForward, CharacterBackward, ViCharacter, ViReplacement };
  void await_key(Awaited what, Count count) {
    awaited_ = what;
    awaited_count_ = count;
  }

  // Changes [from, to) to text and puts the cursor at position; recorded for
  // undo, and shown from from on at the next update.
  void replace(std::size_t from, std::size_t to, std::string_view text, std::size_t position, bool typed = false);

  // --- vi mode (vi_mode.cpp) ---
  char vi_char(std::size_t at) const;
  std::size_t vi_next(std::size_t at) const;
  std::size_t vi_prev(std::size_t at);
  std::optional<std::size_t> vi_motion(const Key& key, int count, std::size_t at, std::size_t end);
  std::size_t vi_word_forward(std::size_t at, int count, std::size_t end, bool big);
  std::size_t vi_word_back(std::size_t at, int count, bool big);
  std::size_t vi_word_end(std::size_t at, int count, std::size_t end, bool big);
  std::size_t vi_first_nonblank() const;
  std::optional<std::size_t> vi_matching();
  void enter_vi_insert();
  void vi_movement_mode();
  void vi_insertion_mode();
  void vi_append_mode();
  void vi_insert_beg();
  void vi_append_eol();
  void vi_begin_insert();
  void vi_editing_mode();
  void emacs_editing_mode();
  void vi_keep_on_a_character();
  void vi_start_recording(const Key& key, Count count);
  void vi_change_done();
  void vi_redo(Count count);
  void vi_delete(Count count);
  void vi_rubout(Count count);
  void vi_change_char_key(Count count) { await_key(Awaited::ViReplacement, count); }
  void vi_change_char(const Key& key, Count count);
  void vi_replace();
  void vi_change_case(Count count);
  void vi_put(Count count);
  void vi_undo(Count count);
  void vi_subst(Count count);
  void vi_operator(Count count);
  void vi_pending_key(const Key& key);
  void vi_finish_pending(const Key& motion);
  void vi_operate(char op, const Key& motion, Count motion_count, Count count);
  void vi_char_search(Count count);
  void vi_search_character(const Key& key, Count count);
  void vi_column(Count count);
  void vi_match();
  void vi_first_print();
  void vi_forward_word();
  void vi_forward_bigword();
  void vi_backward_word();
  void vi_backward_bigword();
  void vi_end_word();
  void vi_end_bigword();
  void vi_fetch_history(Count count);
  void vi_eof_maybe();
  void vi_search();
  void vi_search_again();
  static void bind_vi_defaults(KeyBindings* keys);
  struct ViPending {   // an operator waiting for its motion
    char op;
    Count count;
    int motion_count;
    char search;       // f F t T waiting for its character
  };
  struct ViSearch {
    Key key;
    bool backward, till;
  };
  bool vi_replaying_ = false;       // . is running the keys of the last change

  // --- History and its search (edit_search.cpp) ---
  void recall_older();
  void recall_newer();
  void recall_first();
  void recall_last();
  void recall(std::size_t index);
  void step_history(std::size_t index);
  std::optional<std::size_t> saved_point_;  // where the cursor was when stepping through the history began
  void history_search_backward() { history_search(true, true); }
  void history_search_forward() { history_search(false, true); }
  void history_substring_search_backward() { history_search(true, false); }
  void history_substring_search_forward() { history_search(false, false); }
  void history_search(bool backward, bool anchored);
  void yank_last_arg(Count count);
  void yank_nth_arg(Count count);
  static constexpr int kLastWord = 1 << 30;
  bool yank_argument(int skip, int word);
  // Ctrl+R, Ctrl+S; a negative count turns the direction around, as readline's.
  void search_backward(Count count) { begin_search(count.value >= 0); }
  void search_forward(Count count) { begin_search(count.value < 0); }
  void begin_search(bool backward);
  bool search_key(const Key& key);  // true when the search took the key
  struct SearchBinding {
    Key key;
    Action action;
  };
  static const SearchBinding* search_binding_for(const Key& key);
  void search_take_line();
  void search_give_up();
  void search_older() { search_again(true, false); }
  void search_newer() { search_again(false, false); }
  void search_drop_character();
  // Ctrl+W, Ctrl+Y: the word, or the rest of the line, after the match joins the query, as readline's.
  void search_add_word() { search_add_from_line(true); }
  void search_add_rest() { search_add_from_line(false); }
  void search_add_from_line(bool word);
  void search_again(bool backward, bool including_here);
  void end_search();
  void show_search_prompt();

  EditMemory* memory_;
  EditSettings own_settings_;
  EditSettings* settings_;      // the run's, or these defaults without a memory
  const Command* waiting_command_ = nullptr;  // ... what those keys do if no more of one come
  Key current_key_;             // the key a command runs for
  const Binding* this_command_ = nullptr;
  int macro_depth_ = 0;         // within a macro within a macro ...
  Awaited awaited_ = Awaited::None;
  Count awaited_count_;
  std::size_t mark_ = 0;        // readline's mark: a byte index, kept within the line when used
  bool overwrite_ = false;
  bool recording_macro_ = false;
  std::vector<Key> recorded_;
  std::vector<Key> own_macro_;
  std::vector<Key>* keyboard_macro_;  // the run's, or this line's own without a memory
  std::size_t command_keys_ = 0;      // how many keys the sequence of the command running took
  bool soft_cursor_;            // draw 0xFF in the cursor's cell; the terminal's cursor stays hidden
  bool fresh_row_;              // the prompt is not where the cursor is: draw it again on a fresh row
  std::string prompt_;
  LineView view_;
  HistoryWalk history_;
  UndoList undo_;
  KillRing own_kills_;
  KillRing* kills_;             // the run's, or this line's own without a memory
  std::string line_;
  std::string typed_;           // characters typed since the last other key, not in the line yet
  std::string pending_;         // the first bytes of a UTF-8 character still being typed
  int pending_count_ = 1;       // ... and how many times it goes in (none when not above 0)
  std::string pasted_;          // a paste's text not in the line yet
  bool pasting_ = false;        // within a paste: its changes are one undo group
  bool quoted_paste_ = false;   // ... after Ctrl+V: every byte goes in as it is
  struct PasteCells {
    std::size_t cells;    // the cells before the cursor and of the paste's text up to ...
    std::size_t counted;  // ... this many of its bytes
  };
  std::optional<PasteCells> paste_cells_;  // for the paste's tabs; none: count from the line
  std::size_t position_ = 0;    // byte index of the cursor in line_, on a unit boundary
  bool cursor_moved_ = false;   // the cursor moved since the screen was brought up to date
  bool redraw_all_ = false;     // ... or the prompt changed: everything is drawn again
  bool clear_screen_ = false;   // Ctrl+L since
  bool line_ended_ = false;     // Enter, or Ctrl+D on an empty line
  bool input_ended_ = false;    // Ctrl+D on an empty line

  // What the keys before this one left.
  bool after_yank_ = false;     // ... as the key now acting sees it
  // Everything that lives from one key to the next outside the line itself
  // (which the undo list keeps): a piece of such state belongs here, so
  // that an Escape taken back restores it whole.
  struct KeyState {
    Keymap keymap = Keymap::Emacs;
    KeyPrefix prefix;                   // a count, Ctrl+X or Ctrl+V in progress
    std::vector<Key> sequence;          // the keys so far of a sequence bound to a command (Ctrl+X Ctrl+U)
    const Binding* last_command = nullptr;  // the table row that ran for the last key, if any
    bool meta_next = false;             // after prefix-meta: the next key with Alt
    bool last_was_kill = false;         // ... so a kill now gathers into the same piece
    bool gathering_kills = false;
    bool last_was_yank = false;         // ... so Alt+Y may replace what it put in
    std::size_t yanked_from = 0, yanked_length = 0;
    std::string history_query;          // what history-search looks for, while it is repeated
    int yank_arg_word = 0;              // yank-last-arg, repeated: the word it takes, from which line back, which way
    int yank_arg_skip = 0;
    int yank_arg_direction = 1;
    bool yank_arg_inserted = false;
    // vi mode's
    std::optional<ViPending> vi_pending;
    std::optional<ViSearch> vi_last_search;
    char vi_search_key = 'f';
    std::size_t vi_insert_from = 0;   // the undo list's length when insert mode began
    bool vi_recording = false;        // the keys of a command that may change the line are kept
    bool vi_recording_insert = false;
    bool vi_command_once = false;     // this line has been in command mode
    bool vi_past_end = false;         // the command just run may leave the cursor past the last character
    std::vector<Key> vi_keys, vi_redo;  // the keys of the change being made, and of the last one made (.)
    Count vi_keys_count, vi_redo_count;
  };
  KeyState state_;
  // What the editor was before the last key, an Escape: given back when the
  // Escape turns out to have begun a sequence that stalled on the link. The
  // line comes back through the undo list, and what it cleared out of the kill ring.
  struct BeforeEscape {
    KeyState state;
    std::optional<HistorySearch> search;  // ... and the line it showed, and where
    std::size_t shown;
    std::size_t position;
    std::size_t changes;      // in the undo list: what the Escape changed in the line is undone
    std::size_t cleared = 0;  // the length of the line it cleared, a kill taken back
  };
  std::optional<BeforeEscape> before_escape_;

  std::optional<HistorySearch> search_;
  std::string last_query_;      // a search with nothing typed looks for this again

  int32_t initial_visibility_ = CURSOR_SHOW;
  int32_t idle_visibility_ = CURSOR_SHOW;
};
