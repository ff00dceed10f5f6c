// SPDX-License-Identifier: MIT
// The command line's options: one table, from which both the parsing and
// the option list of --help come, so that a new option is one row.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/filter.h"

// What the command line asks for.
struct Request {
  FilterOptions filter;
  std::vector<std::string_view> values;  // none: standard input is converted
};

enum class Parsed {
  Run,       // convert as the request says
  Answered,  // --help or --version: *text is the answer for standard output
  Wrong,     // *text is why, for a message on standard error (status 2)
};
Parsed parse_options(int argc, char** argv, Request* request, std::string* text);

// Text the user gave, as a message shows it: in double quotes, with control
// characters, invalid UTF-8 (or, outside a UTF-8 locale, the bytes that are
// control characters there) and the quote and backslash escaped; cut short
// at about 40 bytes with "..." (or marked cut already: there was more).
std::string quoted(std::string_view text, bool cut = false);
