// SPDX-License-Identifier: MIT
// The floor every room of the terminal layer stands on: the one record
// `term`, the terminal entry's capabilities and the emitter that writes
// them, the tty stream, whether the process is in the foreground, and the
// terminal mutex. It calls no room.
#include <pthread.h>
#include <termcap.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "runtime/stream/stream.h"
#include "runtime/term/term_internal.h"

Terminal term;

namespace {

// The capability table, in emitter index order.
constexpr const char* kCapabilityNames[CAP_COUNT] = {
    "cm", "ho", "cs", "cl", "ce", "WS", "bl", "AF", "AB",
    "me", "md", "SF", "ve", "vi", "dc", "ks", "ke"};

// The cursor steps, in Motion order.
constexpr const char* kMotionNames[MOTION_COUNT] = {"up", "UP", "nd", "RI", "le", "LE", "cd"};

constexpr const char* kFixedSequences[] = {
    "\033(U",                    // 100 Linux console: direct font mapping
    "\033(B",                    // 101 default mapping
    "\033[6n",                   // 102 cursor position report request
    "\033[18t",                  // 103 text area size report request
    "\033[?1000h\033[?1003h",    // 104 mouse reporting on
    "\033[?1003l\033[?1000l",    // 105 mouse reporting off
    "\033[H\033[J\033[0m",       // 106 home, clear, attributes reset
};

// tputs hands over one byte at a time, with no place to say where it goes.
int put_output(int c) {
  const auto byte = static_cast<uint8_t>(c);
  stream_output(&byte, 1);
  return c;
}
int put_expanding(int c) {
  term.device.expanding->push_back(static_cast<char>(c));
  return c;
}

// Writes a termcap string's expansion through put; false if the entry lacks it.
bool expand(const char* capability, int32_t a, int32_t b, int (*put)(int)) {
  if (capability == nullptr) return false;
  // Every capability goes through tgoto, parameterless ones with a = b = 0.
  char* expansion = tgoto(capability, a, b);
  if (expansion == nullptr) return false;
  tputs(expansion, 1, put);
  return true;
}

}  // namespace

void fetch_capabilities() {
  for (int i = 0; i < CAP_COUNT; ++i) term.device.capabilities[i] = tgetstr(kCapabilityNames[i], nullptr);
  for (int i = 0; i < MOTION_COUNT; ++i) term.device.motions[i] = tgetstr(kMotionNames[i], nullptr);
}

int32_t terminal_kind_for(const char* name) {
  if (std::strcmp(name, "console") == 0 || std::strncmp(name, "linux", 5) == 0) return TERM_KIND_LINUX_CONSOLE;
  return TERM_KIND_OTHER;
}

bool TtyStream::open() {
  stream = std::fopen("/dev/tty", "r+be");
  fd = stream != nullptr ? fileno(stream) : -1;
  return stream != nullptr;
}

void TtyStream::close() {
  if (stream != nullptr) std::fclose(stream);
  stream = nullptr;
  fd = -1;
}

int32_t term_kind() { return term.device.kind; }
bool term_handling_active() { return handling_active(); }
bool term_input_is_terminal() { return term.device.input_is_terminal; }
bool term_output_is_terminal() { return term.device.output_is_terminal; }

// Only tcgetpgrp() and getpgrp(): the continue handler asks it too.
bool term_in_foreground() {
  if (term.device.tty.fd < 0) return true;
  const pid_t foreground = tcgetpgrp(term.device.tty.fd);
  return foreground < 0 || foreground == getpgrp();
}

bool expand_capability(int32_t index, int32_t a, int32_t b, int (*put)(int)) {
  if (index < 0 || index >= CAP_COUNT) return false;
  return expand(term.device.capabilities[index], a, b, put);
}

bool expand_into(std::string& out, const char* capability, int32_t a, int32_t b) {
  term.device.expanding = &out;
  const bool expanded = expand(capability, a, b, put_expanding);
  term.device.expanding = nullptr;
  return expanded;
}

const char* fixed_sequence(int32_t index) {
  if (index < SEQ_FONT_DIRECT || index > SEQ_CLEAR_HOME) return "";
  return kFixedSequences[index - SEQ_FONT_DIRECT];
}

bool term_emit(int32_t index, int32_t a, int32_t b) {
  if (!handling_active()) return false;
  if (index >= 0 && index < CAP_COUNT) {
    if (!expand_capability(index, a, b, put_output)) return false;
    stream_output_done();
    return true;
  }
  if (index >= SEQ_FONT_DIRECT && index <= SEQ_CLEAR_HOME) {
    const char* sequence = fixed_sequence(index);
    stream_output(sequence, std::strlen(sequence));
    stream_output_done();
    return !stream_output_failed();
  }
  if (index == SEQ_RENDITION) {
    char sequence[24];
    const int length = std::snprintf(sequence, sizeof sequence, "\033[%dm", a);
    if (length <= 3) return false;
    stream_output(sequence, static_cast<std::size_t>(length));
    stream_output_done();
    return true;
  }
  return false;
}

bool term_flash() {
  if (!handling_active()) return false;
  char name[] = "vb";
  const char* flash = tgetstr(name, nullptr);
  if (flash == nullptr || flash[0] == '\0') return false;
  tputs(flash, 1, put_output);
  stream_output_done();
  return true;
}

void term_lock() { pthread_mutex_lock(&term.mutex); }
void term_unlock() { pthread_mutex_unlock(&term.mutex); }

// --- What the signal handlers note ------------------------------------------

void note_continued() { term.signals.continued = term.signals.continued + 1; }
void note_resized() { term.signals.resized = term.signals.resized + 1; }
void note_size_stale() { term.signals.size_stale = 1; }
bool take_size_stale() {
  const bool stale = term.signals.size_stale != 0;
  term.signals.size_stale = 0;
  return stale;
}
bool size_stale() { return term.signals.size_stale != 0; }
int feeds_to_fresh_row() { return term.signals.feeds_to_fresh_row; }
unsigned term_continue_count() { return static_cast<unsigned>(term.signals.continued); }
unsigned term_resize_count() { return static_cast<unsigned>(term.signals.resized); }
void term_set_feeds_to_fresh_row(int feeds) { term.signals.feeds_to_fresh_row = feeds; }
