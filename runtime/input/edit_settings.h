// SPDX-License-Identifier: MIT
// The line editor's settings for the run: the keys' bindings in each keymap
// and the variables, readline's defaults with the user's inputrc on top.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "runtime/input/key_bindings.h"

struct EditSettings {
  KeyBindings keys;
  bool vi = false;                  // editing-mode vi: each line begins in vi's insert mode
  std::string comment_begin = "#";  // what Alt+# puts at the line's start
  enum class Bell : uint8_t { None, Visible, Audible } bell = Bell::Audible;
  int history_size = 100;           // lines kept at each prompt
  int keyseq_timeout = -1;          // ms a lone Escape waits for more; -1: ESCDELAY's, or 100
  bool show_mode = false;           // show-mode-in-prompt, with the mode's string before the prompt
  std::string emacs_mode_string = "@", vi_ins_mode_string = "(ins)", vi_cmd_mode_string = "(cmd)";
  std::string isearch_terminators;  // bytes that end an incremental search, keeping the line found
  bool history_preserve_point = false;
  bool bracketed_paste = true;      // enable-bracketed-paste
  std::optional<bool> keypad;       // enable-keypad; unset: the application keypad is on for the run
  std::optional<bool> convert_meta; // convert-meta; unset: as the terminal's entry says ("km")
  bool input_meta = true;           // input-meta off: bytes past ASCII lose their eighth bit
  bool horizontal_scroll = false;   // horizontal-scroll-mode: one row that scrolls sideways
  bool echo_control = true;         // echo-control-characters: "^C" shown at Ctrl+C
  bool revert_all = false;          // revert-all-at-newline: edits to history lines end with the line
  bool mark_modified = false;       // mark-modified-lines: "*" before the prompt of a history line edited
};

// Hands the terminal layer what the settings say of the terminal's modes and keys.
void apply_terminal_settings(const EditSettings& settings);

// The defaults, then what an inputrc text binds and sets.
EditSettings edit_settings_from(std::string_view inputrc);
// The defaults with the user's inputrc: the file INPUTRC names, else
// ~/.inputrc, else /etc/inputrc. A file missing, unreadable or not a plain
// file is no file.
EditSettings read_edit_settings();
