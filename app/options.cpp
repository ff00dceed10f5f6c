// SPDX-License-Identifier: MIT
#include "app/options.h"

#include <langinfo.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "runtime/core/decimal.h"
#include "runtime/input/input.h"
#include "runtime/term/screen/text.h"

namespace {

enum class Option {
  From, To, Difference, Digits, Places, DecimalComma, Invalid,
  Field, Delimiter, Header, ZeroTerminated, Help, Version,
};
enum class Takes { Nothing, Value, OptionalValue };

struct OptionRow {
  std::string_view name;      // the long name
  char letter;                // the short name, or 0
  Takes takes;
  std::string_view argument;  // its name in the help
  std::string_view help;      // lines of at most 55 columns
  Option option;
};

constexpr OptionRow kOptions[] = {
    {"from", 'f', Takes::Value, "SCALE", "the scale of values without one (Scales, below)", Option::From},
    {"to", 't', Takes::Value, "SCALE", "the scale of the results", Option::To},
    {"difference", 0, Takes::Nothing, "",
     "convert temperature differences (10 C is 18 F), not\n"
     "readings (10 C is 50 F)",
     Option::Difference},
    {"digits", 'd', Takes::Value, "N", "significant digits, 1 to 30 (default 15)", Option::Digits},
    {"places", 'p', Takes::Value, "N", "exactly N digits after the point, 0 to 30", Option::Places},
    {"decimal-comma", 0, Takes::Nothing, "", "read and write the decimal separator as a comma (12,5)",
     Option::DecimalComma},
    {"invalid", 0, Takes::Value, "MODE",
     "a value that cannot be converted: fail (a message,\n"
     "status 1; the default), warn (a message, status 0),\n"
     "ignore (status 0), abort (a message, status 1, and\n"
     "the output ends before it)",
     Option::Invalid},
    {"field", 0, Takes::Value, "LIST",
     "convert only these fields of standard input: N, N-M,\n"
     "N-, -M, or a column's name in the header, comma-\n"
     "separated; every other byte is kept as it came",
     Option::Field},
    {"delimiter", 0, Takes::Value, "C",
     "fields are separated by the character C (tab or \\t: a\n"
     "tab), with CSV quoting (\"a, b\" is one field); the\n"
     "default: runs of blanks, no quoting",
     Option::Delimiter},
    {"header", 0, Takes::OptionalValue, "N", "copy the first N lines unchanged, 0 to 99 (default 1)", Option::Header},
    {"zero-terminated", 'z', Takes::Nothing, "", "lines end with NUL, not newline", Option::ZeroTerminated},
    {"help", 'h', Takes::Nothing, "", "show this help and exit", Option::Help},
    {"version", 'V', Takes::Nothing, "", "show the version and exit", Option::Version},
};

constexpr std::string_view kUsageStart =
    "Usage: tempconv -t SCALE [-f SCALE] [OPTION]... VALUE...\n"
    "  or:  tempconv -t SCALE [-f SCALE] [OPTION]... < FILE\n"
    "  or:  tempconv\n"
    "\n"
    "Converts temperatures exactly between the scales below: each VALUE gives\n"
    "one result line; with no VALUE, each line of standard input does, answered\n"
    "as it comes, or only the fields --field chooses change. A value is an\n"
    "optional sign, digits with an optional point and an optional exponent (e or\n"
    "E, at most 9999), at most 4096 bytes, not below absolute zero (a difference\n"
    "may be), and may end with its scale (212F, 98.6°F, 37 °C, 300K). A rejected\n"
    "value gives an empty line (in a field, it is left as written) and a message\n"
    "on standard error. Results are rounded half to even and written as printf's\n"
    "%g writes them, or with -p as %f does.\n"
    "\n"
    "  tempconv -f F -t C 212                       100\n"
    "  tempconv -t C 98.6F 300K                     37 and 26.85\n"
    "  tempconv -f F -t C --header --delimiter=, --field=temp_f < readings.csv\n"
    "\n";

constexpr std::string_view kUsageEnd =
    "\n"
    "A long option may be shortened to any prefix that names only it (--fr for\n"
    "--from); -- ends the options.\n"
    "\n"
    "With no arguments, shows a menu: 1 converts Fahrenheit to Celsius, 2\n"
    "Celsius to Fahrenheit, 3 exits; the result has up to 16 significant digits.\n"
    "With standard input redirected, values are read as fields separated by\n"
    "blanks, commas or line ends, and only the menus and results are printed.\n"
    "\n"
    "Keys while typing an answer at the menu on a terminal (readline's):\n"
    ;

constexpr std::string_view kUsageExit =
    "\n"
    "Exit status: 0 when every value converted (or --invalid=warn or ignore),\n"
    "1 when a value was rejected or reading, writing or memory failed, 2 when\n"
    "the command line is wrong or a column it names is not in the header; the\n"
    "menu, 0 after choice 3 or at the end of the input, 1 when memory runs out\n"
    "or standard input, output or the terminal fails.\n";

constexpr std::string_view kVersionText =
    "tempconv " TEMPCONV_VERSION "\n"
    "Copyright (C) 2026 the tempconv developers.\n"
    "License: MIT <https://opensource.org/license/mit>.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

constexpr std::size_t kShownBytes = 40;  // of a rejected value or a wrong argument, in its message
constexpr std::size_t kHelpColumn = 25;

// One entry of a two-column list: left padded to column, then the help's
// lines ("\n" apart), the later ones indented to the column.
void append_entry(std::string* text, std::string left, std::string_view help, std::size_t column) {
  left.resize(std::max(left.size() + 1, column), ' ');
  for (bool first = true; !help.empty(); first = false) {
    const std::size_t end = std::min(help.find('\n'), help.size());
    *text += first ? left : std::string(column, ' ');
    text->append(help.substr(0, end));
    *text += '\n';
    help.remove_prefix(std::min(end + 1, help.size()));
  }
}

// The editor's keys, from the input layer's list.
void append_key_list(std::string* text) {
  for (const KeyHelp& row : editor_key_help()) append_entry(text, "  " + std::string(row.keys), row.does, 32);
}

// The scales' letters, as a message lists them: "C, F, ... or N".
std::string scale_letters() {
  std::string list;
  for (std::size_t i = 0; i < kScaleCount; ++i) {
    if (i != 0) list += i + 1 == kScaleCount ? " or " : ", ";
    list += kScales[i].letters;
  }
  return list;
}

// --help's list of the scales, a row each: letters, names, as shown.
void append_scale_list(std::string* text) {
  std::string signs;
  for (const ScaleRow& row : kScales) {
    if (!row.sign.empty()) signs += (signs.empty() ? "" : ", ") + std::string(row.sign);
  }
  *text += "\nScales: SCALE, and a value's suffix, is a scale's letters or name in any case\n"
           "(the letters after a degree sign or not), or its sign (" + signs + "):\n";
  for (const ScaleRow& row : kScales) {
    std::string left = "  " + std::string(row.letters);
    left.resize(7, ' ');
    left += row.name;
    if (!row.spelling.empty()) left += ", " + std::string(row.spelling);
    // Padded by characters, whatever the locale: é is one column.
    const auto characters = static_cast<std::size_t>(
        std::count_if(left.begin(), left.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
    left.append(kHelpColumn - std::min(kHelpColumn - 1, characters), ' ');
    *text += left + std::string(row.shown) + "\n";
  }
}

// The option list of --help, from the table.
std::string usage_text() {
  std::string text(kUsageStart);
  for (const OptionRow& row : kOptions) {
    std::string left = row.letter != 0 ? std::string("  -") + row.letter + ", --" : std::string("      --");
    left += row.name;
    if (row.takes == Takes::Value) left += "=" + std::string(row.argument);
    if (row.takes == Takes::OptionalValue) left += "[=" + std::string(row.argument) + "]";
    append_entry(&text, left, row.help, kHelpColumn);
  }
  append_scale_list(&text);
  text.append(kUsageEnd);
  append_key_list(&text);
  return text.append(kUsageExit);
}

// A value, not options: "-" followed by a digit or a point (-40, -.5, -40abc).
bool is_value(std::string_view argument) {
  if (argument.size() < 2 || argument[0] != '-') return !argument.starts_with("-");
  return (argument[1] >= '0' && argument[1] <= '9') || argument[1] == '.';
}

std::optional<int> small_number(std::string_view text, int lowest, int highest) {
  const std::optional<int64_t> n = decimal_number(text, 0, 99);
  if (!n || text.size() > 2 || *n < lowest || *n > highest) return std::nullopt;
  return static_cast<int>(*n);
}

// --delimiter's character: one character, UTF-8 included, or tab spelled out.
std::optional<std::string> delimiter_named(std::string_view text) {
  if (text == "tab" || text == "\\t") return std::string("\t");
  if (text.empty() || text_decode_utf8(text, 0).length != text.size()) return std::nullopt;
  return std::string(text);
}

std::optional<Invalid> invalid_named(std::string_view text) {
  if (text == "fail") return Invalid::Fail;
  if (text == "warn") return Invalid::Warn;
  if (text == "ignore") return Invalid::Ignore;
  if (text == "abort") return Invalid::Abort;
  return std::nullopt;
}

class Parser {
 public:
  Parser(int argc, char** argv, Request* request, std::string* text)
      : arguments_(argv + 1, argv + argc), request_(request), text_(text) {}

  Parsed parse() {
    for (next_ = 0; next_ < arguments_.size();) {
      const std::string_view argument = arguments_[next_++];
      Parsed parsed = Parsed::Run;
      if (only_values_ || argument == "-" || is_value(argument)) {
        request_->values.push_back(argument);
      } else if (argument == "--") {
        only_values_ = true;
      } else if (argument.starts_with("--")) {
        parsed = long_option(argument.substr(2));
      } else {
        parsed = short_options(argument.substr(1));
      }
      if (parsed != Parsed::Run) return parsed;
    }
    return check();
  }

 private:
  Parsed wrong(std::string why) {
    *text_ = std::move(why);
    return Parsed::Wrong;
  }

  Parsed long_option(std::string_view text) {
    const std::size_t equals = text.find('=');
    const std::string_view name = text.substr(0, equals);
    int matches = 0;
    const OptionRow* found = nullptr;
    for (const OptionRow& row : kOptions) {
      if (row.name == name) {  // an exact name wins over the prefixes it is one of
        matches = 1;
        found = &row;
        break;
      }
      if (!name.empty() && row.name.starts_with(name)) {
        ++matches;
        found = &row;
      }
    }
    if (matches != 1) {
      return wrong(std::string(matches == 0 ? "unrecognized option " : "ambiguous option ") +
                   quoted("--" + std::string(name)));
    }
    const std::string long_name = "--" + std::string(found->name);
    std::optional<std::string_view> value;
    if (equals != std::string_view::npos) {
      if (found->takes == Takes::Nothing) return wrong("option " + long_name + " takes no argument");
      value = text.substr(equals + 1);
    } else if (found->takes == Takes::Value) {
      if (next_ == arguments_.size()) return wrong("option " + long_name + " needs an argument");
      value = arguments_[next_++];
    }
    return apply(found->option, value);
  }

  Parsed short_options(std::string_view letters) {
    for (std::size_t i = 0; i < letters.size(); ++i) {
      const OptionRow* found = nullptr;
      for (const OptionRow& row : kOptions) {
        if (row.letter != 0 && row.letter == letters[i]) found = &row;
      }
      if (found == nullptr) return wrong("invalid option " + quoted("-" + std::string(1, letters[i])));
      if (found->takes == Takes::Nothing) {
        const Parsed parsed = apply(found->option, std::nullopt);
        if (parsed != Parsed::Run) return parsed;
        continue;
      }
      // An option with a value takes the rest of this argument, or the next one.
      std::string_view value = letters.substr(i + 1);
      if (value.empty()) {
        if (next_ == arguments_.size()) return wrong("option -" + std::string(1, letters[i]) + " needs an argument");
        value = arguments_[next_++];
      }
      return apply(found->option, value);
    }
    return Parsed::Run;
  }

  Parsed apply(Option option, std::optional<std::string_view> value) {
    FilterOptions& filter = request_->filter;
    Conversion& conversion = filter.format.conversion;
    switch (option) {
      case Option::Help:
        *text_ = usage_text();
        return Parsed::Answered;
      case Option::Version:
        *text_ = kVersionText;
        return Parsed::Answered;
      case Option::From:
      case Option::To: {
        const std::optional<Scale> scale = scale_named(*value);
        if (!scale) return wrong("unknown scale " + quoted(*value) + " (" + scale_letters() + ")");
        if (option == Option::From) {
          conversion.from = scale;
        } else {
          conversion.to = *scale;
          to_given_ = true;
        }
        return Parsed::Run;
      }
      case Option::Digits:
      case Option::Places: {
        const bool digits = option == Option::Digits;
        const std::optional<int> n = small_number(*value, digits ? EXACT_DIGITS_MIN : 0,
                                                  digits ? EXACT_DIGITS_MAX : EXACT_PLACES_MAX);
        if (!n) {
          return wrong(std::string(digits ? "invalid number of digits " : "invalid number of places ") +
                       quoted(*value) + (digits ? " (1 to 30)" : " (0 to 30)"));
        }
        conversion.precision = {digits ? Precision::Kind::Significant : Precision::Kind::Places, *n};
        (digits ? digits_given_ : places_given_) = true;
        return Parsed::Run;
      }
      case Option::Difference: conversion.quantity = Quantity::Difference; return Parsed::Run;
      case Option::DecimalComma: filter.format.decimal_comma = true; return Parsed::Run;
      case Option::ZeroTerminated: filter.terminator = '\0'; return Parsed::Run;
      case Option::Invalid: {
        const std::optional<Invalid> mode = invalid_named(*value);
        if (!mode) return wrong("invalid mode " + quoted(*value) + " (fail, warn, ignore or abort)");
        filter.invalid = *mode;
        return Parsed::Run;
      }
      case Option::Field: {
        const std::optional<FieldList> fields = FieldList::parse(*value);
        if (!fields) {
          return wrong("invalid field list " + quoted(*value) + " (N, N-M, N-, -M or names, comma-separated)");
        }
        filter.fields = *fields;
        input_option_ = true;
        return Parsed::Run;
      }
      case Option::Delimiter: {
        const std::optional<std::string> delimiter = delimiter_named(*value);
        if (!delimiter) return wrong("the delimiter must be one character (or tab), not " + quoted(*value));
        filter.delimiter = *delimiter;
        input_option_ = true;
        return Parsed::Run;
      }
      case Option::Header: {
        const std::optional<int> records = value ? small_number(*value, 0, 99) : std::optional<int>(1);
        if (!records) return wrong("invalid number of header lines " + quoted(*value) + " (0 to 99)");
        filter.header_records = static_cast<uint64_t>(*records);
        input_option_ = true;
        header_without_number_ = !value;
        return Parsed::Run;
      }
    }
    return Parsed::Run;
  }

  // What only the whole command line tells.
  Parsed check() {
    const FilterOptions& filter = request_->filter;
    if (!to_given_) return wrong("no scale to convert to (-t SCALE)");
    if (digits_given_ && places_given_) return wrong("-d and -p cannot be given together");
    if (!request_->values.empty() && input_option_) {
      // "--header 2": the 2 was meant for it.
      const std::string hint = header_without_number_ ? " (a number of header lines is --header=N)" : "";
      return wrong("--header, --field and --delimiter are for standard input, not for values given as arguments "
                   "such as " + quoted(request_->values.front()) + hint);
    }
    if (filter.delimiter && filter.fields.empty()) return wrong("--delimiter needs --field");
    if (filter.delimiter && (*filter.delimiter == "\"" || *filter.delimiter == "\r" ||
                             *filter.delimiter == std::string(1, filter.terminator))) {
      return wrong("the delimiter cannot be a quote, a CR or the line end");
    }
    if (filter.delimiter == "," && filter.format.decimal_comma) {
      return wrong("--decimal-comma needs a delimiter other than the comma");
    }
    if (!filter.fields.names().empty() && filter.header_records == 0) {
      return wrong("the column " + quoted(filter.fields.names().front()) + " needs --header to name it");
    }
    return Parsed::Run;
  }

  std::vector<std::string_view> arguments_;
  Request* request_;
  std::string* text_;
  std::size_t next_ = 0;
  bool only_values_ = false;
  bool to_given_ = false;
  bool digits_given_ = false;
  bool places_given_ = false;
  bool input_option_ = false;  // an option given that only standard input takes
  bool header_without_number_ = false;  // --header given without =N
};

}  // namespace

Parsed parse_options(int argc, char** argv, Request* request, std::string* text) {
  return Parser(argc, argv, request, text).parse();
}

namespace {

// Whether a character may be written into a message as it is: not a
// control character (C0, DEL, C1), not one that reorders the text around
// it (the bidirectional marks, embeddings, overrides and isolates), and not
// an invisible byte-order mark.
bool shown_as_is(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
  return !(c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
           c == 0xFEFF);  // a byte-order mark shows nothing
}

// Text is shown as UTF-8 only in a UTF-8 locale; in any other (the C and
// POSIX locales' ASCII too, which a terminal may show bytes past as
// anything) every byte past ASCII is escaped.
bool locale_is_utf8() {
  static const bool utf8 = [] {
    const char* codeset = nl_langinfo(CODESET);
    return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
  }();
  return utf8;
}

}  // namespace

std::string quoted(std::string_view text, bool cut) {
  static constexpr char kHex[] = "0123456789abcdef";
  const bool utf8 = locale_is_utf8();
  std::string shown = "\"";
  std::size_t at = 0;
  while (at < text.size()) {
    const auto c = static_cast<unsigned char>(text[at]);
    Utf8Character character = text_decode_utf8(text, at);
    if (!utf8 && c >= 0x80) character.length = 0;
    const std::size_t length = character.length != 0 ? character.length : 1;
    if (at + length > kShownBytes) break;
    if (c == '"' || c == '\\') {
      shown += '\\';
      shown += static_cast<char>(c);
    } else if (character.length != 0 && shown_as_is(character.code_point)) {
      shown.append(text.substr(at, length));
    } else {
      for (std::size_t i = at; i < at + length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        shown += "\\x";
        shown += kHex[byte >> 4];
        shown += kHex[byte & 15];
      }
    }
    at += length;
  }
  if (cut || at < text.size()) shown += "...";
  return shown + "\"";
}
