// SPDX-License-Identifier: MIT
// The line editor: one line typed and edited on the terminal, wrapping across
// rows at the window width, scrolling the screen when it runs past the bottom.
//
// Keys come from the key queue and act through one key table: the PC keys and
// those of readline's default mode, with each prompt's history and one kill
// buffer kept for the run. In a UTF-8 locale a character is one unit. Where
// the line stands on the screen, and the drawing, is the view's
// (line_view.h), which needs no answer from the terminal to handle a key.
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "runtime/input/input_internal.h"
#include "runtime/input/line_view.h"
#include "runtime/print/print.h"
#include "runtime/term/term.h"
#include "runtime/stream/stream.h"

namespace {

constexpr int kTabStop = 8;
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
    *ending = isatty(STDOUT_FILENO) ? LineEnding::EnterEchoed : LineEnding::Enter;
  }
  return line;
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

int32_t clamp32(int64_t v) {
  return static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(v, INT32_MIN), INT32_MAX));
}

}  // namespace

ScreenCell cell_after(ScreenCell from, int64_t cells, int32_t width) {
  const int64_t k = (int64_t{from.row} - 1) * width + (from.column - 1) + cells;
  const int64_t row = floor_div(k, width);
  return {clamp32(k - row * width + 1), clamp32(row + 1)};
}

namespace {

// What a key does to the line: one table, so a binding is a row. Keys change
// the line and the cursor's place in it; the screen is brought up to date
// once for all the keys that are waiting (a paste, or a slow link that
// delivers typing in bursts), from the first change on.
class LineEditor {
 public:
  LineEditor(int32_t mode, std::string_view prompt, EditMemory* memory, bool fresh_row)
      : soft_cursor_(mode != EDIT_WITH_TERMINAL_CURSOR),
        fresh_row_(fresh_row),
        view_(prompt),
        history_(memory != nullptr ? &memory->histories[std::string(prompt)] : nullptr),
        killed_(memory != nullptr ? &memory->killed : &own_killed_) {}

  // Runs the key loop until Enter or Ctrl+D on an empty line; false when the
  // keyboard went away first.
  bool run() {
    start();
    while (!line_ended_) {
      if (soft_cursor_) view_.show_soft_cursor(line_, position_, true);
      if (!wait_for_input()) return false;
      if (soft_cursor_) view_.show_soft_cursor(line_, position_, false);
      follow_screen_change(false);
      apply_waiting_keys();
      if (!view_.screen_changed()) bring_screen_up_to_date();  // else drawn once the change is followed
      show_cursor_as(idle_visibility_);
    }
    follow_screen_change(true);
    bring_screen_up_to_date();
    finish();
    return true;
  }

  std::string take_line() { return std::move(line_); }
  bool input_ended() const { return input_ended_; }

 private:
  using Action = void (LineEditor::*)();
  struct Binding {
    int32_t key;
    Action action;
  };

  static constexpr int32_t control(char letter) { return letter - 'A' + 1; }

  void start() {
    initial_visibility_ = term_cursor_visible() ? CURSOR_SHOW : CURSOR_HIDE;
    term_set_cursor_visibility(CURSOR_HIDE);
    term_refresh();
    view_.start();
    if (fresh_row_) view_.follow_screen_change(line_, position_, true);  // the shell wrote its lines meanwhile
    idle_visibility_ = soft_cursor_ ? CURSOR_HIDE : CURSOR_SHOW;
    show_cursor_as(idle_visibility_);
  }

  // Waits until a key is there to take or a change of the screen is to be
  // followed; false if the keyboard or terminal handling ended. Keys already
  // queued come first: key_available only reports new arrivals. Blocks while
  // idle: only a key, a signal or a deadline (a window settling, a sequence
  // still arriving) ends the wait.
  bool wait_for_input() {
    for (;;) {
      // With handling off, key_available only reports that standard input has not ended.
      if (term_kind() == TERM_KIND_OFF) return false;
      int wait_ms = -1;
      if (view_.screen_changed() && view_.ready_to_follow(&wait_ms)) return true;
      if (!key_queue_empty() || key_available()) return true;
      if (term_keyboard_ended()) return false;
      term_wait_for_key(wait_ms);
    }
  }

  // A resize or a stop: drawn again once the window keeps its size, or at
  // once when the line is to be left (in the foreground only).
  void follow_screen_change(bool now) {
    if (!view_.screen_changed()) return;
    int ignored = -1;
    if (!view_.ready_to_follow(&ignored) && !(now && term_in_foreground())) return;
    term_set_cursor_visibility(CURSOR_HIDE);
    view_.follow_screen_change(line_, position_, view_.continued());
    changed_from_ = kUnchanged;
    cursor_moved_ = clear_screen_ = false;
  }

  void apply_waiting_keys() {
    while (!line_ended_) {
      const std::string key = next_key_string();
      if (key.empty()) break;
      apply(key_code_of(key));
    }
  }

  void bring_screen_up_to_date() {
    if (clear_screen_ || changed_from_ != kUnchanged) term_set_cursor_visibility(CURSOR_HIDE);
    if (clear_screen_ && view_.clear_screen(line_, position_)) {
      changed_from_ = kUnchanged;
      cursor_moved_ = false;
    }
    clear_screen_ = false;
    if (changed_from_ != kUnchanged) {
      view_.show(line_, changed_from_, position_);
    } else if (cursor_moved_) {
      view_.place_at(line_, position_);
    }
    changed_from_ = kUnchanged;
    cursor_moved_ = false;
  }

  void apply(int32_t code) {
    // The keys of readline's default (emacs) mode, and the PC keys. Bytes 32
    // to 255 without a row are typed text; every other key is ignored.
    static constexpr Binding kBindings[] = {
        {KEY_ENTER, &LineEditor::end_line},       {KEY_LINE_FEED, &LineEditor::end_line},
        {KEY_HOME, &LineEditor::move_home},       {control('A'), &LineEditor::move_home},
        {KEY_END, &LineEditor::move_end},         {control('E'), &LineEditor::move_end},
        {KEY_LEFT, &LineEditor::move_left},       {control('B'), &LineEditor::move_left},
        {KEY_RIGHT, &LineEditor::move_right},     {control('F'), &LineEditor::move_right},
        {KEY_CTRL_LEFT, &LineEditor::word_back},  {KEY_ALT_LEFT, &LineEditor::word_back},
        {KEY_ALT_B, &LineEditor::word_back},
        {KEY_CTRL_RIGHT, &LineEditor::word_forward}, {KEY_ALT_RIGHT, &LineEditor::word_forward},
        {KEY_ALT_F, &LineEditor::word_forward},
        {KEY_UP, &LineEditor::row_up_or_older},   {control('P'), &LineEditor::recall_older},
        {KEY_DOWN, &LineEditor::row_down_or_newer}, {control('N'), &LineEditor::recall_newer},
        {KEY_BACKSPACE, &LineEditor::delete_before},
        {KEY_DELETE, &LineEditor::delete_under},  {control('D'), &LineEditor::delete_under_or_end_input},
        {control('K'), &LineEditor::kill_to_end}, {control('U'), &LineEditor::kill_to_start},
        {control('W'), &LineEditor::kill_blank_word_before}, {KEY_ALT_BACKSPACE, &LineEditor::kill_word_before},
        {KEY_ALT_D, &LineEditor::kill_word_after}, {control('Y'), &LineEditor::yank},
        {KEY_TAB, &LineEditor::insert_tab},       {KEY_ESCAPE, &LineEditor::clear},
        {control('L'), &LineEditor::clear_screen},
    };
    // An Escape taken back comes right after it: restore what it cleared.
    if (code == KEY_ESCAPE_UNDONE) return undo_escape();
    before_escape_.reset();
    // Consecutive kills gather into one piece; any other key ends the gathering.
    gathering_kills_ = last_was_kill_;
    last_was_kill_ = false;
    if (code >= 32 && code <= 255) return type_byte(static_cast<char>(code));
    finish_character();  // a key that is not text ends an unfinished character
    for (const Binding& binding : kBindings) {
      if (binding.key == code) return (this->*binding.action)();
    }
  }

  // --- Moving ---------------------------------------------------------------

  void move_home() { move_to(0); }
  void move_end() { move_to(line_.size()); }
  void move_left() {
    if (position_ > 0) move_to(view_.unit_before(line_, position_));
  }
  void move_right() {
    if (position_ < line_.size()) move_to(next_unit(position_));
  }
  // By words, as readline's backward-word and forward-word: words are runs of letters and digits.
  void word_back() { move_to(word_start_before(position_)); }
  void word_forward() { move_to(word_end_after(position_)); }
  // Up and Down move one screen row within a wrapped line; from its first or
  // last row they step through the history instead.
  void row_up_or_older() {
    if (!move_rows(-1)) recall_older();
  }
  void row_down_or_newer() {
    if (!move_rows(1)) recall_newer();
  }
  bool move_rows(int32_t rows) {
    const int64_t cells = int64_t{rows} * view_.width();
    const ScreenCell here = view_.cell_of(line_, position_);
    const ScreenCell target = cell_after(here, cells, view_.width());
    const bool inside = rows < 0 ? view_.cells_between(view_.cell_of(line_, 0), target) >= 0
                                 : view_.cells_between(target, view_.cell_of(line_, line_.size())) >= 0;
    if (!inside) return false;
    move_to(view_.index_at(line_, target));
    return true;
  }
  void move_to(std::size_t position) {
    position_ = position;
    cursor_moved_ = true;
  }

  std::size_t next_unit(std::size_t at) const { return at + text_unit_at(line_, at).length; }
  // Back over what is not a word, then over the word.
  std::size_t word_start_before(std::size_t at) {
    for (bool in_word = false; at > 0;) {
      const std::size_t before = view_.unit_before(line_, at);
      const bool word = text_word_character_at(line_, before);
      if (in_word && !word) break;
      in_word = in_word || word;
      at = before;
    }
    return at;
  }
  std::size_t word_end_after(std::size_t at) const {
    while (at < line_.size() && !text_word_character_at(line_, at)) at = next_unit(at);
    while (at < line_.size() && text_word_character_at(line_, at)) at = next_unit(at);
    return at;
  }

  // --- Typing ---------------------------------------------------------------

  // Bytes of a UTF-8 character wait until it is complete, then go in as one.
  void type_byte(char byte) {
    pending_.push_back(byte);
    if (!text_incomplete_character(pending_)) finish_character();
  }
  void finish_character() {
    if (pending_.empty()) return;
    std::string bytes;
    bytes.swap(pending_);
    insert(bytes);
  }
  void insert_tab() { insert(std::string(kTabStop - position_ % kTabStop, ' ')); }
  void yank() { insert(*killed_); }
  void insert(const std::string& bytes) {
    if (bytes.empty()) return;
    edit(position_, [&] { line_.insert(position_, bytes); }, position_ + bytes.size());
  }

  // --- Deleting -------------------------------------------------------------

  void delete_before() {
    if (position_ == 0) return;
    const std::size_t from = view_.unit_before(line_, position_);
    edit(from, [&] { line_.erase(from, position_ - from); }, from);
  }
  void delete_under() {
    if (position_ == line_.size()) {
      term_emit(CAP_BELL, 0, 0);
      return;
    }
    const std::size_t length = text_unit_at(line_, position_).length;
    edit(position_, [&] { line_.erase(position_, length); }, position_);
  }
  // Ctrl+D: Delete, and on an empty line the end of the input.
  void delete_under_or_end_input() {
    if (!line_.empty()) return delete_under();
    input_ended_ = true;
    line_ended_ = true;
  }
  enum class Direction { Forward, Backward };
  void kill_to_end() { kill(position_, line_.size(), Direction::Forward); }
  void kill_to_start() { kill(0, position_, Direction::Backward); }
  void kill_word_after() { kill(position_, word_end_after(position_), Direction::Forward); }
  void kill_word_before() { kill(word_start_before(position_), position_, Direction::Backward); }
  // Ctrl+W: the blank-separated word before the cursor, the blanks before it first.
  void kill_blank_word_before() {
    std::size_t from = position_;
    while (from > 0 && is_blank(line_[from - 1])) --from;
    while (from > 0 && !is_blank(line_[from - 1])) --from;
    kill(from, position_, Direction::Backward);
  }
  // Takes [from, to) into the kill buffer: after another kill, a forward kill
  // appends to the piece and a backward one prepends. Nothing to take changes
  // neither the piece nor the gathering.
  void kill(std::size_t from, std::size_t to, Direction direction) {
    if (from == to) {
      last_was_kill_ = gathering_kills_;
      return;
    }
    const std::string taken = line_.substr(from, to - from);
    if (!gathering_kills_) {
      *killed_ = taken;
    } else if (direction == Direction::Forward) {
      *killed_ += taken;
    } else {
      killed_->insert(0, taken);
    }
    last_was_kill_ = true;
    edit(from, [&] { line_.erase(from, to - from); }, from);
  }
  void clear() {
    before_escape_ = EscapeCleared{line_, position_, gathering_kills_};
    edit(0, [&] { line_.clear(); }, 0);
  }
  // The Escape key was the start of a sequence whose rest stalled on the link.
  void undo_escape() {
    if (!before_escape_) return;
    const EscapeCleared cleared = std::move(*before_escape_);
    before_escape_.reset();
    edit(0, [&] { line_ = cleared.line; }, cleared.position);
    last_was_kill_ = cleared.gathering_kills;
  }

  // Changes the line; the screen shows it from index from on at the next update.
  template <typename Change>
  void edit(std::size_t from, Change change, std::size_t position) {
    change();
    position_ = position;
    view_.changed_from(line_, from);
    changed_from_ = std::min(changed_from_, from);
  }
  void replace_line(const std::string& text) {
    edit(0, [&] { line_ = text; }, text.size());
  }

  // --- History, the screen, Enter -------------------------------------------

  // Older and newer lines entered at this prompt; past the newest comes the
  // line as it was before the first step back.
  void recall_older() {
    if (history_ == nullptr || recalled_ == 0) return;
    if (recalled_ == history_->size()) draft_ = line_;
    --recalled_;
    replace_line((*history_)[recalled_]);
  }
  void recall_newer() {
    if (history_ == nullptr || recalled_ >= history_->size()) return;
    ++recalled_;
    replace_line(recalled_ == history_->size() ? draft_ : (*history_)[recalled_]);
  }
  void clear_screen() { clear_screen_ = true; }
  void end_line() { line_ended_ = true; }

  void finish() {
    move_to(line_.size());
    bring_screen_up_to_date();
    term_set_cursor_visibility(initial_visibility_);
    if (history_ == nullptr || line_.empty() || input_ended_) return;
    if (history_->empty() || history_->back() != line_) history_->push_back(line_);
    if (history_->size() > kHistoryLines) history_->erase(history_->begin());
  }

  void show_cursor_as(int32_t visibility) {
    if (term_cursor_visible() != (visibility == CURSOR_SHOW)) term_set_cursor_visibility(visibility);
  }

  static constexpr std::size_t kUnchanged = std::string::npos;

  bool soft_cursor_;            // draw 0xFF in the cursor's cell; the terminal's cursor stays hidden
  bool fresh_row_;              // the prompt is not where the cursor is: draw it again on a fresh row
  LineView view_;
  std::vector<std::string>* history_;  // this prompt's lines, oldest first; none without a memory
  std::string own_killed_;
  std::string* killed_;         // what the last kills took, for Ctrl+Y
  bool last_was_kill_ = false;  // the last key killed something
  bool gathering_kills_ = false;  // ... so the key being applied adds to that piece
  std::size_t recalled_ = history_ != nullptr ? history_->size() : 0;  // the history line shown; size: none
  std::string draft_;           // the line as it was before the first step back
  struct EscapeCleared {
    std::string line;
    std::size_t position;
    bool gathering_kills;
  };
  std::optional<EscapeCleared> before_escape_;  // what the last key, an Escape, cleared
  std::string line_;
  std::string pending_;         // the first bytes of a UTF-8 character still being typed
  std::size_t position_ = 0;    // byte index of the cursor in line_, on a unit boundary
  std::size_t changed_from_ = kUnchanged;  // the first index changed since the screen was brought up to date
  bool cursor_moved_ = false;   // ... or only the cursor moved
  bool clear_screen_ = false;   // Ctrl+L since
  bool line_ended_ = false;     // Enter, or Ctrl+D on an empty line
  bool input_ended_ = false;    // Ctrl+D on an empty line
  int32_t initial_visibility_ = CURSOR_SHOW;
  int32_t idle_visibility_ = CURSOR_SHOW;
};

}  // namespace

std::string line_edit(int32_t mode, LineEnding* ending, std::string_view prompt, EditMemory* memory) {
  LineEnding ignored = LineEnding::Enter;
  if (ending == nullptr) ending = &ignored;
  *ending = LineEnding::Enter;
  const TakeOver taken = term_take_over();  // started in the background: the terminal is taken now
  if (term_kind() == TERM_KIND_OFF) return read_plain_line(ending);
  LineEditor editor(mode, prompt, memory, taken == TakeOver::AfterStop);
  if (editor.run()) {
    if (editor.input_ended()) *ending = LineEnding::EndOfInput;
    return editor.take_line();
  }
  std::string line = editor.take_line();
  term_set_cursor_visibility(CURSOR_SHOW);
  if (term_kind() == TERM_KIND_OFF) {
    // Terminal handling ended while editing (an ignored fatal signal restored
    // the terminal): the rest of the line comes through the terminal's own mode.
    line += read_plain_line(ending);
    if (*ending == LineEnding::EndOfInput && !line.empty()) *ending = LineEnding::Enter;
  } else if (line.empty()) {
    *ending = LineEnding::EndOfInput;  // the keyboard went away
  }
  return line;
}
