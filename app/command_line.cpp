// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "app/exact.h"
#include "app/filter.h"
#include "runtime/stream/stream.h"

namespace {

constexpr std::string_view kUsageText =
    "Usage: tempconv -t SCALE [-f SCALE] [OPTION]... [VALUE]...\n"
    "  or:  tempconv\n"
    "\n"
    "Converts temperatures exactly between Celsius, Fahrenheit, Kelvin and\n"
    "Rankine: each VALUE gives one result line; with no VALUE, each line of\n"
    "standard input does, answered as it comes. A value is an optional sign,\n"
    "digits with an optional point and an optional exponent (e or E, at most\n"
    "9999), not below absolute zero, and may end with its scale (212F, 98.6°F,\n"
    "37 °C, 300K). A rejected value gives an empty line (or, in a field, is left\n"
    "as written) and a message on standard error. Results are rounded half to\n"
    "even and written as printf's %g writes them, or with -p as %f does.\n"
    "\n"
    "  tempconv -f F -t C 212                       100\n"
    "  tempconv -t C 98.6F 300K                     37 and 26.85\n"
    "  tempconv -f F -t C -p 1 --header --delimiter=, --field=3 < readings.csv\n"
    "\n"
    "  -f, --from=SCALE     the scale of values without one: C, F, K or R, or\n"
    "                       celsius, fahrenheit, kelvin or rankine, in any case\n"
    "                       (also °C, ℃, °F, ℉)\n"
    "  -t, --to=SCALE       the scale of the results\n"
    "  -d, --digits=N       significant digits, 1 to 30 (default 15)\n"
    "  -p, --places=N       exactly N digits after the point, 0 to 30\n"
    "      --field=LIST     convert only these fields of each line: N, N-M, N-,\n"
    "                       -M, comma-separated; every other byte is kept\n"
    "      --delimiter=C    fields are separated by C (default: runs of blanks)\n"
    "      --header[=N]     copy the first N lines unchanged (default 1)\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
    "With no arguments, shows a menu: 1 converts Fahrenheit to Celsius, 2\n"
    "Celsius to Fahrenheit, 3 exits; the result has up to 16 significant digits.\n"
    "With standard input redirected, values are read as fields separated by\n"
    "blanks, commas or line ends, and only the menus and results are printed.\n"
    "\n"
    "Keys while typing an answer at the menu on a terminal (readline's):\n"
    "  Left, Right, Ctrl+B, Ctrl+F   a character back or forward\n"
    "  Ctrl+Left, Ctrl+Right         a word back or forward (also Alt+Left, Alt+Right,\n"
    "                                Alt+B, Alt+F)\n"
    "  Home, End, Ctrl+A, Ctrl+E     the start or end of the line\n"
    "  Up, Down                      a row within a wrapped line, else the history\n"
    "  Ctrl+P, Ctrl+N                the previous or next line typed at this prompt\n"
    "  Alt+<, Alt+>                  the first line of the history, the line being typed\n"
    "  Ctrl+R, Ctrl+S                search the history backward or forward as you type\n"
    "  Backspace, Delete             delete the character before or under the cursor\n"
    "  Ctrl+K, Ctrl+U, Ctrl+W        delete to the end, to the start, the word before\n"
    "  Alt+D, Alt+Backspace          delete the word after or before the cursor\n"
    "  Alt+\\                         delete the blanks around the cursor\n"
    "  Ctrl+Y, Alt+Y                 insert what the last deletions took; right after,\n"
    "                                what the ones before took instead\n"
    "  Ctrl+T, Alt+T                 swap two characters, two words\n"
    "  Alt+U, Alt+L, Alt+C           the word in upper or lower case, capitalized\n"
    "  Ctrl+_, Ctrl+X Ctrl+U         undo; Alt+R: undo everything\n"
    "  Alt+digits, Alt+-             a count for the next key (Alt+3 x: xxx)\n"
    "  Ctrl+V                        the next key's byte as it is\n"
    "  Ctrl+D                        delete under the cursor; on an empty line, end\n"
    "  Tab                           blanks to the next stop of 8\n"
    "  Escape                        clear the line (Ctrl+Y or Ctrl+_ bring it back)\n"
    "  Ctrl+L                        clear the screen\n"
    "  Enter                         take the line\n"
    "  Ctrl+C, Ctrl+Z                quit, suspend\n"
    "\n"
    "Exit status: 0 when every value converted, 1 when a value was rejected or\n"
    "reading, writing or memory failed, 2 when the command line is wrong; the\n"
    "menu, 0 after choice 3 or at the end of the input, 1 when memory runs out\n"
    "or standard input, output or the terminal fails.\n";

constexpr std::string_view kVersionText =
    "tempconv " TEMPCONV_VERSION "\n"
    "Copyright (C) 2026 the tempconv developers.\n"
    "License: MIT <https://opensource.org/license/mit>.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

constexpr std::size_t kBlock = 64 * 1024;
constexpr std::size_t kShownBytes = 40;  // of a rejected value or a wrong argument, in its message

// A message on standard error, after everything written before it, so that
// results and messages keep the order of the values.
void message(std::string_view text) {
  stream_flush();
  std::string line = "tempconv: ";
  line.append(text);
  line.push_back('\n');
  (void)!write(STDERR_FILENO, line.data(), line.size());
}

// Output goes through the program's streams: in blocks of 64 KiB, written
// before every read of standard input. A failed read or write is reported
// once, and nothing more is written.
void report_stream_failure(const char* operation, int error) {
  message(std::string(operation) + " error: " + std::strerror(error));
}

void output(std::string_view text) { stream_output(text.data(), text.size()); }

// Text the user gave, as a message shows it: in double quotes, with bytes
// that are not printable ASCII escaped, and cut short when long (or cut
// already: more of it was not kept).
std::string quoted(std::string_view text, bool cut = false) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown = "\"";
  for (std::size_t i = 0; i < text.size() && i < kShownBytes; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      shown += '\\';
      shown += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      shown += "\\x";
      shown += kHex[c >> 4];
      shown += kHex[c & 15];
    }
  }
  if (cut || text.size() > kShownBytes) shown += "...";
  return shown + "\"";
}

// Results to standard output, rejections to standard error; lines: the
// values are lines of standard input (named by number), not arguments.
class StreamSink final : public FilterSink {
 public:
  explicit StreamSink(bool lines) : lines_(lines) {}
  void output(std::string_view bytes) override { ::output(bytes); }
  void rejected(uint64_t line, uint64_t field, std::string_view value, bool cut, ValueError error) override {
    std::string where = lines_ ? "line " + std::to_string(line) : "";
    if (field != 0) where += (where.empty() ? "field " : ", field ") + std::to_string(field);
    if (!where.empty()) where += ": ";
    message(where + quoted(value, cut) + ": " + value_error_text(error));
  }

 private:
  bool lines_;
};

struct Request {
  FilterOptions filter;
  bool to_given = false;
  bool digits_given = false;
  bool places_given = false;
  std::vector<std::string_view> values;
};

enum class Parsed { Run, Answered, Wrong };

int usage_error(const std::string& text) {
  message(text);
  constexpr std::string_view kTry = "Try 'tempconv --help' for more information.\n";
  (void)!write(STDERR_FILENO, kTry.data(), kTry.size());
  return 2;
}

// A value, not options: "-" followed by a digit or a point (-40, -.5, -40abc).
bool is_value(std::string_view argument) {
  if (argument.size() < 2 || argument[0] != '-') return !argument.starts_with("-");
  return (argument[1] >= '0' && argument[1] <= '9') || argument[1] == '.';
}

std::optional<int> small_number(std::string_view text, int lowest, int highest) {
  if (text.empty() || text.size() > 2) return std::nullopt;
  int n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n < lowest || n > highest) return std::nullopt;
  return n;
}

// Parses the command line. On Wrong, the message has been written.
class Parser {
 public:
  Parser(int argc, char** argv) : arguments_(argv + 1, argv + argc) {}

  Parsed parse(Request* request, int* status) {
    request_ = request;
    for (next_ = 0; next_ < arguments_.size();) {
      const std::string_view argument = arguments_[next_++];
      Parsed parsed = Parsed::Run;
      if (only_values_ || argument == "-" || is_value(argument)) {
        request->values.push_back(argument);
      } else if (argument == "--") {
        only_values_ = true;
      } else if (argument.starts_with("--")) {
        parsed = long_option(argument.substr(2), status);
      } else {
        parsed = short_options(argument.substr(1), status);
      }
      if (parsed != Parsed::Run) return parsed;
    }
    return Parsed::Run;
  }

 private:
  enum class Option { From, To, Digits, Places, Field, Delimiter, Header, Help, Version };
  enum class Takes { Nothing, Value, OptionalValue };

  Parsed long_option(std::string_view text, int* status) {
    static constexpr struct {
      std::string_view name;
      Option option;
      Takes takes;
    } kLong[] = {{"from", Option::From, Takes::Value},          {"to", Option::To, Takes::Value},
                 {"digits", Option::Digits, Takes::Value},      {"places", Option::Places, Takes::Value},
                 {"field", Option::Field, Takes::Value},        {"delimiter", Option::Delimiter, Takes::Value},
                 {"header", Option::Header, Takes::OptionalValue}, {"help", Option::Help, Takes::Nothing},
                 {"version", Option::Version, Takes::Nothing}};
    const std::size_t equals = text.find('=');
    const std::string_view name = text.substr(0, equals);
    int matches = 0;
    std::size_t found = 0;
    for (std::size_t i = 0; i < std::size(kLong); ++i) {
      if (kLong[i].name == name) {  // an exact name wins over the prefixes it is one of
        matches = 1;
        found = i;
        break;
      }
      if (kLong[i].name.starts_with(name) && !name.empty()) {
        ++matches;
        found = i;
      }
    }
    if (matches != 1) {
      *status = usage_error(std::string(matches == 0 ? "unrecognized option " : "ambiguous option ") +
                            quoted("--" + std::string(name)));
      return Parsed::Wrong;
    }
    const auto& option = kLong[found];
    const std::string long_name = "--" + std::string(option.name);
    std::optional<std::string_view> value;
    if (equals != std::string_view::npos) {
      if (option.takes == Takes::Nothing) {
        *status = usage_error("option " + long_name + " takes no argument");
        return Parsed::Wrong;
      }
      value = text.substr(equals + 1);
    } else if (option.takes == Takes::Value) {
      if (next_ == arguments_.size()) {
        *status = usage_error("option " + long_name + " needs an argument");
        return Parsed::Wrong;
      }
      value = arguments_[next_++];
    }
    return apply(option.option, value, status);
  }

  Parsed short_options(std::string_view letters, int* status) {
    for (std::size_t i = 0; i < letters.size(); ++i) {
      Option option;
      switch (letters[i]) {
        case 'f': option = Option::From; break;
        case 't': option = Option::To; break;
        case 'd': option = Option::Digits; break;
        case 'p': option = Option::Places; break;
        case 'h': option = Option::Help; break;
        case 'V': option = Option::Version; break;
        default:
          *status = usage_error("invalid option " + quoted("-" + std::string(1, letters[i])));
          return Parsed::Wrong;
      }
      if (option == Option::Help || option == Option::Version) return apply(option, std::nullopt, status);
      // An option with a value takes the rest of this argument, or the next one.
      std::string_view value = letters.substr(i + 1);
      if (value.empty()) {
        if (next_ == arguments_.size()) {
          *status = usage_error("option -" + std::string(1, letters[i]) + " needs an argument");
          return Parsed::Wrong;
        }
        value = arguments_[next_++];
      }
      return apply(option, value, status);
    }
    return Parsed::Run;
  }

  Parsed wrong(const std::string& text, int* status) {
    *status = usage_error(text);
    return Parsed::Wrong;
  }

  Parsed apply(Option option, std::optional<std::string_view> value, int* status) {
    FilterOptions& filter = request_->filter;
    switch (option) {
      case Option::Help:
      case Option::Version: {
        output(option == Option::Help ? kUsageText : kVersionText);
        *status = stream_flush() ? 0 : 1;
        return Parsed::Answered;
      }
      case Option::From:
      case Option::To: {
        const std::optional<Scale> scale = scale_named(*value);
        if (!scale) return wrong("unknown scale " + quoted(*value) + " (C, F, K or R)", status);
        if (option == Option::From) {
          filter.conversion.from = scale;
        } else {
          filter.conversion.to = *scale;
          request_->to_given = true;
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
                           quoted(*value) + (digits ? " (1 to 30)" : " (0 to 30)"),
                       status);
        }
        filter.conversion.precision = {digits ? Precision::Kind::Significant : Precision::Kind::Places, *n};
        (digits ? request_->digits_given : request_->places_given) = true;
        return Parsed::Run;
      }
      case Option::Field: {
        const std::optional<FieldList> fields = FieldList::parse(*value);
        if (!fields) return wrong("invalid field list " + quoted(*value) + " (N, N-M, N-, -M, comma-separated)", status);
        filter.fields = *fields;
        return Parsed::Run;
      }
      case Option::Delimiter:
        if (value->size() != 1 || (*value)[0] == '\n') return wrong("the delimiter must be one character, not " + quoted(*value), status);
        filter.delimiter = (*value)[0];
        return Parsed::Run;
      case Option::Header: {
        const std::optional<int> lines = value ? small_number(*value, 0, 99) : std::optional<int>(1);
        if (!lines) return wrong("invalid number of header lines " + quoted(*value) + " (0 to 99)", status);
        filter.header_lines = static_cast<uint64_t>(*lines);
        return Parsed::Run;
      }
    }
    return Parsed::Run;
  }

  std::vector<std::string_view> arguments_;
  std::size_t next_ = 0;
  bool only_values_ = false;
  Request* request_ = nullptr;
};

// Every line of standard input, converted as it comes.
int filter_input(const FilterOptions& options) {
  StreamSink sink(true);
  LineFilter filter(options, sink);
  std::vector<char> block(kBlock);
  for (std::size_t got; (got = stream_input_some(block.data(), block.size())) != 0;) {
    filter.feed(std::string_view(block.data(), got));
    if (stream_output_failed()) return 1;
  }
  if (stream_input_failed()) return 1;
  filter.finish();
  return filter.all_converted() ? 0 : 1;
}

// Each value on the command line, as a line of its own.
int convert_arguments(const Request& request) {
  StreamSink sink(false);
  FilterOptions options = request.filter;
  options.header_lines = 0;
  options.input_start = false;
  bool all_converted = true;
  for (const std::string_view value : request.values) {
    LineFilter filter(options, sink);
    filter.feed(value);
    filter.feed("\n");
    all_converted &= filter.all_converted();
    if (stream_output_failed()) break;
  }
  return all_converted ? 0 : 1;
}

int run(int argc, char** argv) {
  Request request;
  int status = 0;
  const Parsed parsed = Parser(argc, argv).parse(&request, &status);
  if (parsed != Parsed::Run) return status;
  if (!request.to_given) return usage_error("no scale to convert to (-t SCALE)");
  if (request.digits_given && request.places_given) return usage_error("-d and -p cannot be given together");
  if (request.filter.delimiter && request.filter.fields.empty()) return usage_error("--delimiter needs --field");
  status = request.values.empty() ? filter_input(request.filter) : convert_arguments(request);
  if (!stream_flush()) return 1;
  return status;
}

}  // namespace

int run_command_line(int argc, char** argv) {
  stream_init(false);
  stream_set_failure_handler(report_stream_failure);
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    message("out of memory");
    return 1;
  }
}
