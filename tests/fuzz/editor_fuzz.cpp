// SPDX-License-Identifier: MIT
// The line editor fed arbitrary keyboard bytes in a UTF-8 locale, on an
// invented terminal that never answers, so every key is handled from the
// editor's own model: the first bytes pick the window size, the prompt, the
// cursor mode and the terminal's wrap. Lines are edited until the keys run
// out, or a line grows past 64 KiB.
//
// After every drawing, what the program wrote so far is played on an
// emulated screen, which must show the prompt and the line exactly as they
// lay out in the rows the view says it shows, with the cursor at its place.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "runtime/input/line_editor.h"
#include "runtime/stream/stream.h"
#include "runtime/term/term_internal.h"
#include "tests/support/fixtures.h"
#include "tests/support/vt_screen.h"

namespace {

constexpr std::size_t kLongestLine = 64 * 1024;

const uint8_t* keys = nullptr;
std::size_t key_count = 0;
std::size_t next_key_byte = 0;
int phase = 0;  // a byte, then nothing twice: the keyboard has gone quiet, and the keys are drawn
bool too_long = false;

int fuzz_reader() {
  if (keys == nullptr) return -1;  // setting up: the keys are not there yet
  if (next_key_byte < key_count && !too_long) {
    phase = (phase + 1) % 3;
    return phase == 1 ? keys[next_key_byte++] : -1;
  }
  term_keyboard.ended = true;  // the keyboard went away: the editor must give up
  return -1;
}

int output_fd = -1;           // standard output: a file in memory
off_t played = 0;             // what the screen has been fed of it
std::unique_ptr<VtScreen> screen;
std::string prompt;

// Plays what was written since on the screen, a line feed as a terminal's
// output processing sends it (a carriage return first).
void play_output() {
  stream_flush();
  char buffer[65536];
  for (ssize_t got; (got = pread(output_fd, buffer, sizeof buffer, played)) > 0; played += got) {
    std::string bytes(buffer, static_cast<std::size_t>(got));
    for (std::size_t at = 0; (at = bytes.find('\n', at)) != std::string::npos; at += 2) bytes.insert(at, 1, '\r');
    screen->feed(bytes);
  }
}

// What a cell of the prompt and line holds when laid out: the first
// character of its unit (marks are not compared), the stand-in of a unit
// that may not be sent, "" for the second cell of a wide one, " " for the
// cell a wide one leaves at a row's end. Returns the first cell of the unit
// that holds byte index mark (or the offset after the text).
int64_t lay_out(std::string_view text, int64_t* offset, int32_t width, std::vector<std::string>* cells, int64_t first,
                std::size_t mark = std::string::npos) {
  int64_t marked = -1;
  for (std::size_t i = 0; i < text.size();) {
    const TextUnit unit = text_unit_at(text, i);
    const int64_t start = unit_placed_at(*offset, unit.cells, width);
    if (mark >= i && mark < i + unit.length) marked = start;
    const auto put = [&](int64_t o, const std::string& cell) {
      if (o >= first && o - first < static_cast<int64_t>(cells->size())) (*cells)[static_cast<std::size_t>(o - first)] = cell;
    };
    for (int64_t o = *offset; o < start; ++o) put(o, " ");
    const std::string shown(unit.showable ? text.substr(i, text_character_at(text, i).length) : text_stand_in());
    for (int c = 0; c < unit.cells; ++c) put(start + c, c == 0 ? shown : "");
    *offset = start + unit.cells;
    i += unit.length;
  }
  return marked >= 0 ? marked : *offset;
}

// A finding: what the screen shows and what it should, then the abort the fuzzer catches.
[[noreturn]] void fail(const char* what, const LineView& view, const std::vector<std::string>& cells, int64_t first) {
  std::fprintf(stderr, "editor_fuzz: %s\nprompt row %ld, column %d; cursor at %d,%d\nscreen:\n%s\nexpected from offset %ld:\n",
               what, static_cast<long>(view.prompt_row()), view.prompt_column(), screen->column(), screen->row(),
               screen->text().c_str(), static_cast<long>(first));
  for (std::size_t i = 0; i < cells.size(); ++i) {
    std::fprintf(stderr, "%s%s", cells[i].empty() ? "" : cells[i].c_str(), (i + 1) % static_cast<std::size_t>(screen->columns()) == 0 ? "|\n" : "");
  }
  std::fprintf(stderr, "\nthe last bytes written:\n");
  char tail[400];
  const off_t from = std::max<off_t>(0, played - static_cast<off_t>(sizeof tail));
  const ssize_t got = pread(output_fd, tail, static_cast<std::size_t>(played - from), from);
  for (ssize_t i = 0; i < got; ++i) {
    const auto byte = static_cast<unsigned char>(tail[i]);
    if (byte >= 0x20 && byte < 0x7F) {
      std::fputc(byte, stderr);
    } else {
      std::fprintf(stderr, "\\x%02x", byte);
    }
  }
  std::fputc('\n', stderr);
  std::abort();
}

void check_screen(const LineView& view, const std::string& line, std::size_t position) {
  if (line.size() > kLongestLine) too_long = true;
  play_output();
  const int32_t width = screen->columns(), height = screen->rows();
  if (width < 2) return;  // a window of one column cannot show a wide character: nothing to compare
  // The cells from the prompt's first row down to the bottom row, blank past the line.
  const int64_t rows = height - view.prompt_row() + 1;
  if (rows <= 0) std::abort();  // the window shows nothing of the line
  const int64_t first = std::max<int64_t>(0, 1 - view.prompt_row()) * width;
  std::vector<std::string> cells(static_cast<std::size_t>(rows * width - first), " ");
  int64_t offset = view.prompt_column() - 1;
  lay_out(view.prompt(), &offset, width, &cells, first);
  const int64_t cursor_offset = lay_out(line, &offset, width, &cells, first, position);
  for (int64_t o = std::max(first, int64_t{view.prompt_column()} - 1); o < first + static_cast<int64_t>(cells.size()); ++o) {
    const int column = static_cast<int>(o % width) + 1;
    const int row = static_cast<int>(view.prompt_row() + o / width);
    // A terminal that wraps at once would scroll for its bottom-right cell: never written.
    const bool last = o + 1 - first == static_cast<int64_t>(cells.size());
    if (!term_wraps_late() && row == height && (last || (column == width - 1 && cells.back().empty()))) continue;
    if (screen->cell(column, row) != cells[static_cast<std::size_t>(o - first)]) fail("a cell differs", view, cells, first);
  }
  if (screen->column() != cursor_offset % width + 1 || screen->row() != view.prompt_row() + cursor_offset / width) {
    fail("the cursor is elsewhere", view, cells, first);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("LC_ALL", "C.UTF-8", 1);
  start_runtime_quietly();
  output_fd = memfd_create("screen", 0);
  dup2(output_fd, STDOUT_FILENO);
  LineEditor::observer = check_screen;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  keys = nullptr;
  InventedTerminal terminal(fuzz_reader, key_script::xterm_keys);
  // No tty to answer: every question fails at once and the model works alone.
  const int columns = 1 + data[0] % 90, rows = 1 + data[1] % 30;
  InventedTerminal::set_window(columns, rows);
  console_refresh_geometry();  // the console's width follows, as after a resize
  prompt = (data[2] & 1) != 0 ? "Input temperature in Celsius: " : "? ";
  const int32_t mode = (data[2] & 2) != 0 ? EDIT_WITH_SOFT_CURSOR : EDIT_WITH_TERMINAL_CURSOR;
  term.device.late_wrap = (data[2] & 4) == 0;  // else a terminal that wraps at once
  keys = data + 3;
  key_count = size - 3;
  next_key_byte = 0;
  phase = 0;
  too_long = false;
  stream_flush();
  ftruncate(output_fd, 0);
  lseek(STDOUT_FILENO, 0, SEEK_SET);
  played = 0;
  screen = std::make_unique<VtScreen>(columns, rows, true, term_wraps_late());
  EditMemory memory;
  for (std::size_t line = 0; line <= key_count + 1; ++line) {
    // Each prompt on the bottom row, where the view takes it to be with no
    // terminal to ask (a line cleared with Ctrl+L ends higher up).
    play_output();
    screen->feed(std::string(static_cast<std::size_t>(screen->rows() - screen->row()), '\n'));
    print_string(CONSOLE, prompt, PRINT_LINE_OPEN);
    LineEnding ending = LineEnding::Enter;
    line_edit(mode, &ending, prompt, &memory);
    print_line_end(CONSOLE, PRINT_NEWLINE);
    if (ending == LineEnding::EndOfInput || next_key_byte >= key_count || too_long) break;
    if (line == key_count + 1) std::abort();  // a line that took no key
  }
  return 0;
}
