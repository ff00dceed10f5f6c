// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/exact.h"
#include "runtime/stream/stream.h"

namespace {

constexpr std::string_view kUsageText =
    "Usage: tempconv\n"
    "  or:  tempconv -f SCALE -t SCALE [OPTION]... VALUE...\n"
    "  or:  tempconv -f SCALE -t SCALE [OPTION]...\n"
    "\n"
    "Converts temperatures. With no arguments, shows a menu: 1 converts\n"
    "Fahrenheit to Celsius, 2 Celsius to Fahrenheit, 3 exits; the result has up\n"
    "to 16 significant digits. With standard input redirected, values are read\n"
    "as fields separated by blanks, commas or line ends, and only the menus and\n"
    "results are printed.\n"
    "\n"
    "With -f and -t, converts exactly between scales: each VALUE gives one\n"
    "result line; with no VALUE, each line of standard input does (blanks\n"
    "around it and a CR before the line end allowed). A value is an optional\n"
    "sign, digits with an optional point and an optional exponent (e or E, at\n"
    "most 9999), not below absolute zero. A rejected value gives an empty line\n"
    "and a message on standard error. Results are rounded half to even and\n"
    "written as printf's %g writes them.\n"
    "\n"
    "  -f, --from=SCALE     the scale of the values: C, F, K or R, or celsius,\n"
    "                       fahrenheit, kelvin or rankine, in any case\n"
    "  -t, --to=SCALE       the scale of the results\n"
    "  -d, --digits=N       significant digits, 1 to 30 (default 15)\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
    "Keys while typing an answer at the menu on a terminal:\n"
    "  Left, Right, Ctrl+B, Ctrl+F   a character back or forward\n"
    "  Ctrl+Left, Ctrl+Right         a word back or forward (also Alt+Left, Alt+Right,\n"
    "                                Alt+B, Alt+F)\n"
    "  Home, End, Ctrl+A, Ctrl+E     the start or end of the line\n"
    "  Up, Down                      a row within a wrapped line, else the history\n"
    "  Ctrl+P, Ctrl+N                the previous or next line typed at this prompt\n"
    "  Backspace, Delete             delete the character before or under the cursor\n"
    "  Ctrl+K, Ctrl+U, Ctrl+W        delete to the end, to the start, the word before\n"
    "  Alt+D, Alt+Backspace          delete the word after or before the cursor\n"
    "  Ctrl+Y                        insert what the last deletions took\n"
    "  Ctrl+D                        delete under the cursor; on an empty line, end\n"
    "  Tab                           blanks to the next stop of 8\n"
    "  Escape                        clear the line\n"
    "  Ctrl+L                        clear the screen\n"
    "  Enter                         take the line\n"
    "  Ctrl+C, Ctrl+Z                quit, suspend\n"
    "\n"
    "Exit status: the menu, 0 after choice 3 or at the end of the input, 1 when\n"
    "memory runs out or standard input, output or the terminal fails; with -f\n"
    "and -t, 0 when every value converted, 1 when a value was rejected or\n"
    "reading or writing failed, 2 when the command line is wrong.\n";

constexpr std::string_view kVersionText =
    "tempconv " TEMPCONV_VERSION "\n"
    "Copyright (C) 2026 the tempconv developers.\n"
    "License: MIT <https://opensource.org/license/mit>.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

constexpr std::size_t kBlock = 64 * 1024;
constexpr std::size_t kShownValueBytes = 40;  // of a rejected value, in its message

void message(std::string_view text) {
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

void write_line(std::string_view text) {
  stream_output(text.data(), text.size());
  stream_output("\n", 1);
}

// A value as a message shows it: in double quotes, with bytes that are not
// printable ASCII escaped, and cut short when long.
std::string quoted(std::string_view value) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text = "\"";
  for (std::size_t i = 0; i < value.size() && i < kShownValueBytes; ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (c == '"' || c == '\\') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      text += "\\x";
      text += kHex[c >> 4];
      text += kHex[c & 15];
    }
  }
  if (value.size() > kShownValueBytes) text += "...";
  return text + "\"";
}

struct Request {
  std::optional<Scale> from;
  std::optional<Scale> to;
  int digits = EXACT_DIGITS_DEFAULT;
  std::vector<std::string_view> values;
};

enum class Parsed { Run, Answered, Wrong };

int usage_error(const std::string& text) {
  message(text);
  constexpr std::string_view kTry = "Try 'tempconv --help' for more information.\n";
  (void)!write(STDERR_FILENO, kTry.data(), kTry.size());
  return 2;
}

bool reads_as_value(std::string_view argument) {
  std::string ignored;
  const ValueError error = convert_exact(argument, Scale::Kelvin, Scale::Kelvin, 1, &ignored);
  return error != ValueError::NotANumber;
}

std::optional<int> digit_count(std::string_view text) {
  if (text.empty() || text.size() > 2) return std::nullopt;
  int n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n < EXACT_DIGITS_MIN || n > EXACT_DIGITS_MAX) return std::nullopt;
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
      if (only_values_ || argument == "-" || !argument.starts_with("-") || reads_as_value(argument)) {
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
  enum class Option { From, To, Digits, Help, Version };

  Parsed long_option(std::string_view text, int* status) {
    static constexpr struct {
      std::string_view name;
      Option option;
    } kLong[] = {{"from", Option::From}, {"to", Option::To}, {"digits", Option::Digits},
                 {"help", Option::Help}, {"version", Option::Version}};
    const std::size_t equals = text.find('=');
    const std::string_view name = text.substr(0, equals);
    int matches = 0;
    Option option = Option::Help;
    for (const auto& candidate : kLong) {
      if (candidate.name == name) {  // an exact name wins over the prefixes it is one of
        matches = 1;
        option = candidate.option;
        break;
      }
      if (candidate.name.starts_with(name) && !name.empty()) {
        ++matches;
        option = candidate.option;
      }
    }
    if (matches != 1) {
      *status = usage_error(std::string(matches == 0 ? "unrecognized option '--" : "ambiguous option '--") +
                            std::string(name) + "'");
      return Parsed::Wrong;
    }
    const bool takes_value = option == Option::From || option == Option::To || option == Option::Digits;
    std::optional<std::string_view> value;
    if (equals != std::string_view::npos) {
      if (!takes_value) {
        *status = usage_error("option '--" + std::string(name) + "' doesn't allow an argument");
        return Parsed::Wrong;
      }
      value = text.substr(equals + 1);
    } else if (takes_value) {
      if (next_ == arguments_.size()) {
        *status = usage_error("option '--" + std::string(name) + "' requires an argument");
        return Parsed::Wrong;
      }
      value = arguments_[next_++];
    }
    return apply(option, value, status);
  }

  Parsed short_options(std::string_view letters, int* status) {
    for (std::size_t i = 0; i < letters.size(); ++i) {
      Option option;
      switch (letters[i]) {
        case 'f': option = Option::From; break;
        case 't': option = Option::To; break;
        case 'd': option = Option::Digits; break;
        case 'h': option = Option::Help; break;
        case 'V': option = Option::Version; break;
        default:
          *status = usage_error(std::string("invalid option -- '") + letters[i] + "'");
          return Parsed::Wrong;
      }
      if (option == Option::Help || option == Option::Version) return apply(option, std::nullopt, status);
      // An option with a value takes the rest of this argument, or the next one.
      std::string_view value = letters.substr(i + 1);
      if (value.empty()) {
        if (next_ == arguments_.size()) {
          *status = usage_error(std::string("option requires an argument -- '") + letters[i] + "'");
          return Parsed::Wrong;
        }
        value = arguments_[next_++];
      }
      return apply(option, value, status);
    }
    return Parsed::Run;
  }

  Parsed apply(Option option, std::optional<std::string_view> value, int* status) {
    switch (option) {
      case Option::Help:
      case Option::Version: {
        const std::string_view text = option == Option::Help ? kUsageText : kVersionText;
        stream_output(text.data(), text.size());
        *status = stream_flush() ? 0 : 1;
        return Parsed::Answered;
      }
      case Option::From:
      case Option::To: {
        const std::optional<Scale> scale = scale_named(*value);
        if (!scale) {
          *status = usage_error("unknown scale '" + std::string(*value) + "' (C, F, K or R)");
          return Parsed::Wrong;
        }
        (option == Option::From ? request_->from : request_->to) = scale;
        return Parsed::Run;
      }
      case Option::Digits: {
        const std::optional<int> digits = digit_count(*value);
        if (!digits) {
          *status = usage_error("invalid number of digits '" + std::string(*value) + "' (1 to 30)");
          return Parsed::Wrong;
        }
        request_->digits = *digits;
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

// Converts one value into its result line; false (and a message) when it is rejected.
bool convert_line(const Request& request, std::string_view value, std::string& result, const std::string& where) {
  const ValueError error = convert_exact(value, *request.from, *request.to, request.digits, &result);
  if (error == ValueError::None) {
    write_line(result);
    return true;
  }
  write_line("");
  message(where + quoted(value) + ": " + value_error_text(error));
  return false;
}

std::string_view trimmed(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const std::size_t first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

// Every line of standard input is a value; the last one needs no line end.
int filter(const Request& request) {
  std::vector<char> block(kBlock);
  std::string pending;  // a line begun in an earlier block
  std::string result;
  uint64_t number = 0;
  bool all_converted = true;
  auto one = [&](std::string_view line) {
    all_converted &= convert_line(request, trimmed(line), result, "line " + std::to_string(++number) + ": ");
  };
  for (std::size_t got; (got = stream_input(block.data(), block.size())) != 0;) {
    std::string_view data(block.data(), got);
    for (std::size_t end; (end = data.find('\n')) != std::string_view::npos; data.remove_prefix(end + 1)) {
      if (pending.empty()) {
        one(data.substr(0, end));
      } else {
        pending.append(data.substr(0, end));
        one(pending);
        pending.clear();
      }
      if (stream_output_failed()) return 1;
    }
    pending.append(data);
  }
  if (stream_input_failed()) return 1;
  if (!pending.empty()) one(pending);
  return all_converted ? 0 : 1;
}

}  // namespace

int run_command_line(int argc, char** argv) {
  stream_init(false);
  stream_set_failure_handler(report_stream_failure);
  Request request;
  int status = 0;
  const Parsed parsed = Parser(argc, argv).parse(&request, &status);
  if (parsed != Parsed::Run) return status;
  if (!request.from) return usage_error("no scale to convert from (-f SCALE)");
  if (!request.to) return usage_error("no scale to convert to (-t SCALE)");
  std::string result;
  bool all_converted = true;
  if (request.values.empty()) {
    status = filter(request);
  } else {
    for (const std::string_view value : request.values) {
      all_converted &= convert_line(request, value, result, "");
      if (stream_output_failed()) break;
    }
    status = all_converted ? 0 : 1;
  }
  if (!stream_flush()) return 1;
  return status;
}
