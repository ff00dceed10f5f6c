// SPDX-License-Identifier: MIT
// Console input: the INPUT statement and its numeric field reads.
//
// INPUT's path is chosen by whether standard input is a terminal (asked once,
// at the first statement): redirected, it prints nothing and scans fields
// byte by byte from the console record (pushed-back bytes first, then
// standard input); on a terminal it prints the prompt, lets the user edit a
// line (the line editor) and scans that line.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// INPUT start. On a terminal: the prompt (nullopt: none), then "? " if asked,
// the edited line, then a line end if asked. Redirected: none of them.
enum class Question { Omit, Ask };
enum class LineEnd { Keep, Print };
int32_t input_start(std::optional<std::string_view> prompt, Question question, LineEnd line_end);
void read_int64_field(int64_t* out);
void read_double_field(double* out);
// True when the last field read found the input exhausted before any byte.
bool input_reached_end();

// The line editor's keys as --help lists them: the keys, and what they do
// (lines apart by "\n").
struct KeyHelp {
  std::string keys;
  std::string_view does;
};
std::span<const KeyHelp> editor_key_help();
