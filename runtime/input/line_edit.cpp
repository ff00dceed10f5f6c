// The line editor: one line typed and edited on the terminal, wrapping across
// rows at the window width, scrolling the screen when it runs past the bottom.
//
// Keys come from the key queue and act through one key table; where the line
// stands on the screen, and the drawing, is the view's (line_view.h), which
// needs no answer from the terminal to handle a key.
#include <unistd.h>

#include <algorithm>

#include "runtime/input/input.h"
#include "runtime/input/line_view.h"
#include "runtime/print/print.h"
#include "runtime/term/term.h"

namespace {

constexpr int kKeyWaitMs = 25;
constexpr int kTabStop = 8;
constexpr uint8_t kSoftCursor = 0xFF;

// Standard input is a terminal the program does not drive: the terminal's own
// line discipline edits and echoes; read up to the line feed. The terminal has
// echoed that line feed itself when the answer is shown on it too.
std::string read_plain_line(LineEnding* ending) {
  std::string line;
  int ch;
  while ((ch = term_input_byte()) >= 0 && ch != '\n') line.push_back(static_cast<char>(ch));
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

bool redraw_scrolled(ScreenCell end_cell, int32_t height) {
  return end_cell.row > height + 1 || (end_cell.row == height + 1 && end_cell.column > 1);
}

namespace {

class LineEditor {
 public:
  LineEditor(int32_t mode, std::string_view prompt)
      : soft_cursor_(mode != EDIT_WITH_TERMINAL_CURSOR), view_(prompt) {}

  // Runs the key loop until Enter; false when the keyboard went away first.
  bool run() {
    start();
    while (!line_ended_) {
      if (soft_cursor_) draw_soft_cursor(kSoftCursor);
      if (!wait_for_key()) return false;
      const int32_t code = key_code_of(next_key_string());
      if (code < 0) continue;
      if (soft_cursor_) draw_soft_cursor(position_ < line_.size() ? static_cast<uint8_t>(line_[position_]) : ' ');
      apply(code);
      show_cursor_as(idle_visibility_);
    }
    finish();
    return true;
  }

  std::string take_line() { return std::move(line_); }

 private:
  using Action = void (LineEditor::*)();
  struct Binding {
    int32_t key;
    Action action;
  };

  void start() {
    initial_visibility_ = term_cursor_visible() ? CURSOR_SHOW : CURSOR_HIDE;
    term_set_cursor_visibility(CURSOR_HIDE);
    term_refresh();
    view_.start();
    idle_visibility_ = soft_cursor_ ? CURSOR_HIDE : CURSOR_SHOW;
    show_cursor_as(idle_visibility_);
  }

  // Waits until a key is there to take; false if the keyboard or terminal handling ended.
  // Keys already queued come first: key_available only reports new arrivals, and
  // every call of it reads one more key into the queue, so asking it while keys
  // wait would leave them stranded until the next keypress, and a long paste
  // would overflow the queue. A resize or a stop meanwhile is drawn at once.
  bool wait_for_key() {
    for (;;) {
      // With handling off, key_available only reports that standard input has not ended.
      if (term_kind() == TERM_KIND_OFF) return false;
      if (view_.screen_changed()) {
        term_set_cursor_visibility(CURSOR_HIDE);
        view_.follow_screen_change(line_, position_);
        show_cursor_as(idle_visibility_);
      }
      if (!key_queue_empty() || key_available()) return true;
      if (term_keyboard_ended()) return false;
      term_wait_for_key(kKeyWaitMs);
    }
  }

  void apply(int32_t code) {
    // What each key does; bytes 32 to 255 without a row are inserted, every other key is ignored.
    static constexpr Binding kBindings[] = {
        {KEY_BACKSPACE, &LineEditor::delete_before},
        {KEY_TAB, &LineEditor::insert_tab},
        {KEY_LINE_FEED, &LineEditor::end_line},
        {KEY_ENTER, &LineEditor::end_line},
        {KEY_ESCAPE, &LineEditor::clear},
        {KEY_HOME, &LineEditor::move_home},
        {KEY_UP, &LineEditor::move_up},
        {KEY_LEFT, &LineEditor::move_left},
        {KEY_RIGHT, &LineEditor::move_right},
        {KEY_END, &LineEditor::move_end},
        {KEY_DOWN, &LineEditor::move_down},
        {KEY_DELETE, &LineEditor::delete_under},
    };
    for (const Binding& binding : kBindings) {
      if (binding.key == code) return (this->*binding.action)();
    }
    if (code >= 32 && code <= 255) insert(std::string(1, static_cast<char>(code)));
  }

  // --- Edit operations, one per key ---------------------------------------

  void end_line() { line_ended_ = true; }
  void insert_tab() { insert(std::string(kTabStop - position_ % kTabStop, ' ')); }
  void move_home() { move_to(0); }
  void move_end() { move_to(line_.size()); }
  void move_left() {
    if (position_ > 0) move_to(position_ - 1);
  }
  void move_right() {
    if (position_ < line_.size()) move_to(position_ + 1);
  }
  // Up and down move one screen row within a wrapped line.
  void move_up() {
    const auto width = static_cast<std::size_t>(view_.width());
    if (position_ >= width) move_to(position_ - width);
  }
  void move_down() {
    const auto width = static_cast<std::size_t>(view_.width());
    if (position_ + width <= line_.size()) move_to(position_ + width);
  }
  void delete_before() {
    if (position_ == 0) return;
    move_to(position_ - 1);
    delete_at_cursor();
  }
  void delete_under() {
    if (position_ < line_.size()) {
      delete_at_cursor();
    } else {
      term_emit(CAP_BELL, 0, 0);
    }
  }

  // --- Cursor moves and redraws, all from the view's model ----------------

  void move_to(std::size_t position) {
    position_ = position;
    view_.place_at(line_, position_);
  }

  // The cursor stands on the insertion point: the inserted bytes and the old
  // tail are written from there, then the cursor goes after the inserted bytes.
  void insert(const std::string& bytes) {
    term_set_cursor_visibility(CURSOR_HIDE);
    line_.insert(position_, bytes);
    view_.write_line(line_, position_, line_.size());
    move_to(position_ + bytes.size());
  }

  // The tail moves one cell left; a blank covers the cell of the old last byte.
  void delete_at_cursor() {
    term_set_cursor_visibility(CURSOR_HIDE);
    line_.erase(position_, 1);
    view_.write_line(line_, position_, line_.size());
    view_.write_blanks(1, view_.cell_of(line_, line_.size()));
    view_.place_at(line_, position_);
  }

  void clear() {
    move_to(0);
    if (line_.empty()) return;
    term_set_cursor_visibility(CURSOR_HIDE);
    const std::size_t old_length = line_.size();
    line_.clear();
    view_.write_blanks(old_length, view_.cell_of(line_, 0));
    view_.place_at(line_, 0);
  }

  void finish() {
    move_to(line_.size());
    term_set_cursor_visibility(initial_visibility_);
  }

  void show_cursor_as(int32_t visibility) {
    if (term_cursor_visible() != (visibility == CURSOR_SHOW)) term_set_cursor_visibility(visibility);
  }

  void draw_soft_cursor(uint8_t byte) {
    const char text[2] = {static_cast<char>(byte), '\0'};
    print_text(CONSOLE, text, PRINT_LINE_OPEN);
    view_.forget_cursor();
    view_.place_at(line_, position_);
    term_set_cursor_visibility(CURSOR_HIDE);
  }

  bool soft_cursor_;            // draw 0xFF in the cursor's cell; the terminal's cursor stays hidden
  LineView view_;
  std::string line_;
  std::size_t position_ = 0;    // byte index of the cursor in line_
  bool line_ended_ = false;     // Enter was pressed
  int32_t initial_visibility_ = CURSOR_SHOW;
  int32_t idle_visibility_ = CURSOR_SHOW;
};

}  // namespace

std::string line_edit(int32_t mode, LineEnding* ending, std::string_view prompt) {
  LineEnding ignored = LineEnding::Enter;
  if (ending == nullptr) ending = &ignored;
  *ending = LineEnding::Enter;
  if (term_kind() == TERM_KIND_OFF) return read_plain_line(ending);
  LineEditor editor(mode, prompt);
  if (editor.run()) return editor.take_line();
  std::string line = editor.take_line();
  place_cursor(0, 0, CURSOR_SHOW);
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
