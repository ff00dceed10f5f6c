// SPDX-License-Identifier: MIT
// The inputrc file as readline reads it: variables set, keys bound to
// functions or macros, $if/$else/$endif on the terminal, the editing mode,
// the application and the version, $include, comments. Text in, settings
// out: the reader does no I/O of its own (it is given a way to read an
// included file), and a line it does not understand is skipped without a
// word.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The editor's keymaps, as inputrc names them.
enum class Keymap : uint8_t { Emacs, ViInsert, ViCommand };

struct InputrcBinding {
  Keymap keymap;
  std::string keys;   // the key sequence's bytes, escapes translated
  std::string value;  // a function's name, or a macro's text (escapes translated)
  bool macro = false;
  bool operator==(const InputrcBinding&) const = default;
};

struct InputrcVariable {
  std::string name;   // in lower case, as readline compares names
  std::string value;  // the rest of the line, trimmed (see inputrc_string, inputrc_on)
  bool operator==(const InputrcVariable&) const = default;
};

// A file read: its variables and its bindings, each in the order given.
struct Inputrc {
  std::vector<InputrcVariable> variables;
  std::vector<InputrcBinding> bindings;
};

// What the file's conditionals test, and how $include reads a file.
struct InputrcContext {
  std::string term;                       // TERM
  std::string application = "tempconv";
  int version = 802;                      // readline's version whose behaviour is followed: 8.2
  bool vi = false;                        // the editing mode as reading starts
  std::string home;                       // for ~/ in $include
  std::function<std::optional<std::string>(const std::string& path)> read_file;
};

// Reads the text of an inputrc file (and the files it includes, at most
// kIncludeDepth deep).
inline constexpr int kIncludeDepth = 8;
Inputrc read_inputrc(std::string_view text, const InputrcContext& context);

// Readline's escapes (\C-x, \M-x, \e, \\, \", \', \a \b \d \f \n \r \t \v,
// octal \nnn and hex \xHH) turned into the bytes they stand for.
std::string inputrc_unescape(std::string_view text);
// A variable's value as a boolean: on, 1 or nothing are on, anything else off.
bool inputrc_on(std::string_view value);
// A variable's value as a string: a quoted value's text, escapes translated,
// else its first word.
std::string inputrc_string(std::string_view value);
