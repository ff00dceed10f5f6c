// The line editor: one line typed and edited on the terminal, wrapping across
// rows at the window width, scrolling the screen when it runs past the bottom.
//
// The editor keeps its own idea of the cursor cell but reads the real one from
// the terminal before every key, so the terminal's own wrapping and scrolling
// correct it. Keys come from the key queue; echo goes to the terminal writer.
#include <algorithm>
#include <cstdio>

#include "runtime/input/input.h"
#include "runtime/print/print.h"
#include "runtime/term/term.h"

namespace {

constexpr int kKeyWaitMs = 25;
constexpr int kTabStop = 8;
constexpr uint8_t kSoftCursor = 0xFF;

// Key codes the editor acts on.
enum Key : int32_t {
  KEY_BACKSPACE = 8,
  KEY_TAB = 9,
  KEY_LINE_FEED = 10,
  KEY_ENTER = 13,
  KEY_ESCAPE = 27,
  KEY_HOME = 0x47FF,
  KEY_UP = 0x48FF,
  KEY_LEFT = 0x4BFF,
  KEY_RIGHT = 0x4DFF,
  KEY_END = 0x4FFF,
  KEY_DOWN = 0x50FF,
  KEY_DELETE = 0x53FF,
};

// Standard input is a terminal the program does not drive: the terminal's own
// line discipline edits and echoes; read up to the line feed.
std::string read_plain_line(bool* input_ended) {
  std::string line;
  int ch;
  while ((ch = std::getc(stdin)) != EOF && ch != '\n') line.push_back(static_cast<char>(ch));
  if (input_ended != nullptr) *input_ended = ch == EOF && line.empty();
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
  explicit LineEditor(int32_t mode) : mode_(mode) {}

  // Runs the key loop until Enter; false when the keyboard went away first.
  bool run() {
    start();
    for (;;) {
      term_cursor_position(&column_, &row_);
      if (mode_ != 0) draw_soft_cursor(kSoftCursor);
      if (!wait_for_key()) return false;
      const std::string key = next_key_string();
      if (key.empty()) continue;
      const int32_t code = key.size() == 2 ? static_cast<uint8_t>(key[1]) * 256 + 255 : static_cast<uint8_t>(key[0]);
      if (mode_ != 0) draw_soft_cursor(position_ < line_.size() ? static_cast<uint8_t>(line_[position_]) : ' ');
      apply(code);
      place_cursor(0, 0, idle_visibility_);
      if (code == KEY_ENTER || code == KEY_LINE_FEED) {
        finish();
        return true;
      }
    }
  }

  std::string take_line() { return std::move(line_); }

 private:
  void start() {
    term_window_size(&width_, &height_);
    if (width_ < 1) width_ = 1;
    initial_visibility_ = (place_cursor(0, 0, -1) >> 16) & 1;
    place_cursor(0, 0, 0);
    term_write(nullptr, 0);
    idle_visibility_ = mode_ == 0 ? 1 : 0;
    place_cursor(0, 0, idle_visibility_);
  }

  // Waits until a key is there to take; false if the keyboard or terminal handling ended.
  // Keys already queued come first: key_available only reports new arrivals, and
  // every call of it reads one more key into the queue, so asking it while keys
  // wait would leave them stranded until the next keypress, and a long paste
  // would overflow the queue.
  bool wait_for_key() {
    for (;;) {
      // With handling off, key_available only reports that standard input has not ended.
      if (term_kind() == TERM_KIND_OFF) return false;
      if (!key_queue_empty() || key_available()) return true;
      if (term_keyboard_ended()) return false;
      term_wait_for_key(kKeyWaitMs);
    }
  }

  void apply(int32_t code) {
    switch (code) {
      case KEY_BACKSPACE:
        if (position_ == 0) return;
        move_by(-1);
        --position_;
        delete_at_cursor();
        return;
      case KEY_TAB:
        insert(std::string(kTabStop - position_ % kTabStop, ' '));
        return;
      case KEY_ESCAPE:
        clear();
        return;
      case KEY_HOME:
        move_to(0);
        return;
      case KEY_UP:
        if (position_ >= static_cast<std::size_t>(width_)) move_to(position_ - width_);
        return;
      case KEY_LEFT:
        if (position_ > 0) move_to(position_ - 1);
        return;
      case KEY_RIGHT:
        if (position_ < line_.size()) move_to(position_ + 1);
        return;
      case KEY_END:
        move_to(line_.size());
        return;
      case KEY_DOWN:
        if (position_ + width_ <= line_.size()) move_to(position_ + width_);
        return;
      case KEY_DELETE:
        if (position_ < line_.size()) {
          delete_at_cursor();
        } else {
          term_emit(CAP_BELL, 0, 0);
        }
        return;
      default:
        if (code >= 32 && code <= 255) insert(std::string(1, static_cast<char>(code)));
        return;  // other control bytes and extended keys are ignored
    }
  }

  void move_to(std::size_t position) {
    move_by(static_cast<int64_t>(position) - static_cast<int64_t>(position_));
    position_ = position;
  }

  // Moves the cursor d cells along the rows of the screen. Just past the
  // bottom-right cell the screen scrolls up by one row instead.
  void move_by(int64_t d) {
    const ScreenCell to = cell_after({column_, row_}, d, width_);
    column_ = to.column;
    row_ = to.row;
    if (row_ == height_ + 1 && column_ == 1) {
      place_cursor(height_, width_, -1);
      term_write("\n", 1);
    } else {
      place_cursor(row_, column_, -1);  // a cell off the view or window is refused
    }
  }

  void insert(const std::string& bytes) {
    place_cursor(0, 0, 0);
    const ScreenCell start{column_, row_};
    const bool at_end = position_ == line_.size();
    line_.insert(position_, bytes);
    term_write(line_.data() + position_, line_.size() - position_);
    term_cursor_position(&column_, &row_);
    const ScreenCell end_cell = cell_after(start, static_cast<int64_t>(line_.size() - position_), width_);
    if (!at_end && redraw_scrolled(end_cell, height_)) {
      // The redraw scrolled the screen: step back over the old tail from where the terminal put the cursor.
      move_by(static_cast<int64_t>(position_ + bytes.size()) - static_cast<int64_t>(line_.size()));
    } else {
      column_ = start.column;
      row_ = start.row;
      move_by(static_cast<int64_t>(bytes.size()));
    }
    position_ += bytes.size();
  }

  void delete_at_cursor() {
    place_cursor(0, 0, 0);
    line_.erase(position_, 1);
    term_write(line_.data() + position_, line_.size() - position_);
    term_write(" ", 1);  // blanks the cell of the old last byte
    place_cursor(row_, column_, -1);
  }

  void clear() {
    move_by(-static_cast<int64_t>(position_));
    position_ = 0;
    if (line_.empty()) return;
    place_cursor(0, 0, 0);
    const std::string blanks(line_.size(), ' ');
    line_.clear();
    term_write(nullptr, 0);
    term_write(blanks.data(), blanks.size());
    place_cursor(row_, column_, -1);
  }

  void finish() {
    term_cursor_position(&column_, &row_);
    move_by(static_cast<int64_t>(line_.size()) - static_cast<int64_t>(position_));
    place_cursor(0, 0, initial_visibility_);
  }

  void draw_soft_cursor(uint8_t byte) {
    const char text[2] = {static_cast<char>(byte), '\0'};
    print_text(0, text, 0);
    place_cursor(row_, column_, 0);
  }

  int32_t mode_;
  std::string line_;
  std::size_t position_ = 0;   // byte index of the cursor in line_
  int32_t column_ = 1;         // the cursor's cell, 1-based
  int32_t row_ = 1;
  int32_t width_ = 80;         // window size, read once at the start
  int32_t height_ = 24;
  int32_t initial_visibility_ = 1;
  int32_t idle_visibility_ = 1;
};

}  // namespace

std::string line_edit(int32_t mode, bool* input_ended) {
  if (input_ended != nullptr) *input_ended = false;
  if (term_kind() == TERM_KIND_OFF) return read_plain_line(input_ended);
  LineEditor editor(mode);
  if (editor.run()) return editor.take_line();
  std::string line = editor.take_line();
  place_cursor(0, 0, 1);
  if (term_kind() == TERM_KIND_OFF) {
    // Terminal handling ended while editing (an ignored fatal signal restored
    // the terminal): the rest of the line comes through the terminal's own mode.
    bool ended = false;
    line += read_plain_line(&ended);
    if (input_ended != nullptr) *input_ended = ended && line.empty();
  } else if (input_ended != nullptr) {
    *input_ended = line.empty();  // the keyboard went away
  }
  return line;
}
