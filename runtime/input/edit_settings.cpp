// SPDX-License-Identifier: MIT
#include "runtime/input/edit_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>

#include "runtime/core/decimal.h"
#include "runtime/input/line_editor.h"
#include "runtime/term/term.h"

namespace {

constexpr std::size_t kMostInputrcBytes = 1 << 20;

// A plain file's text, at most kMostInputrcBytes of it; a FIFO, a device or
// a folder is no file (reading one could wait for ever or never end).
std::optional<std::string> read_plain_file(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat status {};
  std::optional<std::string> text;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    text.emplace();
    char buffer[8192];
    while (text->size() < kMostInputrcBytes) {
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      text->append(buffer, static_cast<std::size_t>(got));
    }
    if (text->size() > kMostInputrcBytes) text->resize(kMostInputrcBytes);
  }
  close(fd);
  return text;
}

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

InputrcContext context_of_this_run() {
  InputrcContext context;
  context.term = environment("TERM");
  context.home = environment("HOME");
  context.read_file = read_plain_file;
  return context;
}

void bind(EditSettings* settings, const InputrcBinding& binding) {
  std::vector<Key> keys = keys_spelt_by(binding.keys);
  Command command;
  if (binding.macro) {
    command.macro = keys_spelt_by(binding.value);
  } else {
    command.function = LineEditor::function_named(binding.value);
    if (command.function < 0) return;  // a function this editor does not have
  }
  settings->keys.bind(binding.keymap, std::move(keys), std::move(command));
}

// A number, as readline reads one (a value that is not is ignored).
bool number_of(const std::string& value, int* number) {
  const std::optional<int64_t> read = decimal_number(value, -1000000, 1000000, /*is_signed=*/true);
  if (read) *number = static_cast<int>(*read);
  return read.has_value();
}

// A mode string as shown: the parts readline's \1 and \2 mark as invisible
// (a colour's escape sequences) left out, and control characters too: the
// prompt's cells must be known.
std::string visible_part(const std::string& text) {
  std::string shown;
  bool invisible = false;
  for (const char c : text) {
    if (c == '\1' || c == '\2') {
      invisible = c == '\1';
    } else if (!invisible && (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)) {
      shown += c;
    }
  }
  return shown;
}

// The variables that mean something here; the others are skipped.
void set(EditSettings* settings, const InputrcVariable& variable) {
  const std::string& name = variable.name;
  const std::string value = inputrc_string(variable.value);
  int number = 0;
  if (name == "editing-mode") {
    if (value == "vi" || value == "emacs") settings->vi = value == "vi";
  } else if (name == "comment-begin") {
    settings->comment_begin = visible_part(value);
  } else if (name == "bell-style") {
    if (value == "none" || value == "off") settings->bell = EditSettings::Bell::None;
    if (value == "visible") settings->bell = EditSettings::Bell::Visible;
    if (value == "audible" || value == "on") settings->bell = EditSettings::Bell::Audible;
  } else if (name == "prefer-visible-bell") {
    settings->bell = inputrc_on(variable.value) ? EditSettings::Bell::Visible : EditSettings::Bell::Audible;
  } else if (name == "history-size" && number_of(value, &number)) {
    settings->history_size = number < 0 ? 1000000 : number;  // below 0: as many as memory allows, within reason
  } else if (name == "keyseq-timeout" && number_of(value, &number)) {
    settings->keyseq_timeout = number <= 0 ? -1 : number;  // 0 or less: readline waits for ever; the default here
  } else if (name == "show-mode-in-prompt") {
    settings->show_mode = inputrc_on(variable.value);
  } else if (name == "emacs-mode-string") {
    settings->emacs_mode_string = visible_part(value);
  } else if (name == "vi-ins-mode-string") {
    settings->vi_ins_mode_string = visible_part(value);
  } else if (name == "vi-cmd-mode-string") {
    settings->vi_cmd_mode_string = visible_part(value);
  } else if (name == "isearch-terminators") {
    settings->isearch_terminators = value;
  } else if (name == "revert-all-at-newline") {
    settings->revert_all = inputrc_on(variable.value);
  } else if (name == "mark-modified-lines") {
    settings->mark_modified = inputrc_on(variable.value);
  } else if (name == "enable-bracketed-paste") {
    settings->bracketed_paste = inputrc_on(variable.value);
  } else if (name == "horizontal-scroll-mode") {
    settings->horizontal_scroll = inputrc_on(variable.value);
  } else if (name == "enable-keypad") {
    settings->keypad = inputrc_on(variable.value);
  } else if (name == "convert-meta") {
    settings->convert_meta = inputrc_on(variable.value);
  } else if (name == "input-meta" || name == "meta-flag") {
    settings->input_meta = inputrc_on(variable.value);
  } else if (name == "echo-control-characters") {
    settings->echo_control = inputrc_on(variable.value);
  } else if (name == "history-preserve-point") {
    settings->history_preserve_point = inputrc_on(variable.value);
  }
}

EditSettings settings_from(std::string_view inputrc, const InputrcContext& context) {
  EditSettings settings;
  LineEditor::bind_defaults(&settings.keys);
  const Inputrc read = read_inputrc(inputrc, context);
  for (const InputrcVariable& variable : read.variables) set(&settings, variable);
  for (const InputrcBinding& binding : read.bindings) bind(&settings, binding);
  return settings;
}

}  // namespace

void apply_terminal_settings(const EditSettings& settings) {
  term_set_bracketed_paste(settings.bracketed_paste);
  term_set_keypad(settings.keypad.value_or(true));
  term_set_eight_bit_keys(settings.convert_meta, !settings.input_meta);
  term_set_signal_echo(settings.echo_control);
}

EditSettings edit_settings_from(std::string_view inputrc) { return settings_from(inputrc, context_of_this_run()); }

EditSettings read_edit_settings() {
  const InputrcContext context = context_of_this_run();
  std::optional<std::string> text;
  if (const std::string named = environment("INPUTRC"); !named.empty()) {
    text = read_plain_file(named);
  } else {
    if (!context.home.empty()) text = read_plain_file(context.home + "/.inputrc");
    if (!text) text = read_plain_file("/etc/inputrc");
  }
  return settings_from(text.value_or(""), context);
}
