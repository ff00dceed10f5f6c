// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include <linux/kcmp.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/exact.h"
#include "app/filter.h"
#include "app/options.h"
#include "runtime/stream/stream.h"

namespace {

constexpr std::size_t kBlock = 64 * 1024;

// Messages on standard error. Where standard output and standard error are
// one file or terminal, the order of results and messages can be read
// there and is kept: when the two descriptors share one open file (2>&1), a
// message goes into the output's own buffer; otherwise it goes out at once,
// after the results before it. Elsewhere messages are gathered as results
// are, and written when 64 KiB are gathered, before more input is waited
// for, and at the end. Either way a column of bad cells costs little more
// than a clean one, but for two separate openings of one file.
enum class MessageRoute { Gathered, WithOutput, AfterFlush };
struct Messages {
  MessageRoute route = MessageRoute::AfterFlush;
  std::string gathered;
  bool lost = false;  // a message could not be written: the status is 1, as for a failed write of results
};
Messages messages;

MessageRoute message_route() {
  struct stat out {};
  struct stat err {};
  struct stat null {};
  if (fstat(STDOUT_FILENO, &out) != 0 || fstat(STDERR_FILENO, &err) != 0) return MessageRoute::Gathered;
  if (out.st_dev != err.st_dev || out.st_ino != err.st_ino) return MessageRoute::Gathered;
  if (S_ISCHR(out.st_mode) && stat("/dev/null", &null) == 0 && out.st_rdev == null.st_rdev) return MessageRoute::Gathered;
  const long pid = getpid();
  if (syscall(SYS_kcmp, pid, pid, KCMP_FILE, STDOUT_FILENO, STDERR_FILENO) == 0) return MessageRoute::WithOutput;
  return MessageRoute::AfterFlush;
}

void write_messages(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = write(STDERR_FILENO, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {  // nowhere to say it
      messages.lost = true;
      return;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
}

void flush_messages() {
  write_messages(messages.gathered);
  messages.gathered.clear();
}

// A line on standard error, as it stands.
void message_line(std::string_view line) {
  std::string& gathered = messages.gathered;
  gathered.append(line).push_back('\n');
  if (messages.route == MessageRoute::WithOutput && !stream_output_failed()) {
    stream_output(gathered.data(), gathered.size());
    gathered.clear();
  } else if (messages.route != MessageRoute::Gathered || gathered.size() >= kBlock) {
    stream_flush();
    flush_messages();
  }
}

void message(std::string_view text) { message_line("tempconv: " + std::string(text)); }

// A failed read or write is reported once, and nothing more is written.
void report_stream_failure(const char* operation, int error) {
  message(std::string(operation) + " error: " + std::strerror(error));
}

void output(std::string_view text) { stream_output(text.data(), text.size()); }

int usage_error(const std::string& text) {
  message(text);
  message_line("Try 'tempconv --help' for more information.");
  return 2;
}

std::string where(uint64_t line, uint64_t field) {
  std::string text = line != 0 ? "line " + std::to_string(line) : "";
  if (field != 0) text += (text.empty() ? "field " : ", field ") + std::to_string(field);
  return text.empty() ? text : text + ": ";
}

void rejection_message(uint64_t line, uint64_t field, std::string_view value, bool cut, ValueError error,
                       std::string_view hint = {}) {
  std::string text = where(line, field);
  if (error != ValueError::UnclosedQuote) text += quoted(value, cut) + ": ";
  text += value_error_text(error);
  message(text.append(hint));
}

// Results to standard output, rejections to standard error; lines: the
// values are lines of standard input (named by number), not arguments.
class StreamSink final : public FilterSink {
 public:
  void output(std::string_view bytes) override { ::output(bytes); }
  void rejected(uint64_t line, uint64_t field, std::string_view value, bool cut, ValueError error) override {
    rejection_message(line, field, value, cut, error);
  }
  void column_unknown(std::string_view name, bool twice) override {
    usage_error("the column " + quoted(name) + (twice ? " is in the header twice" : " is not in the header"));
  }
};

// Every record of standard input, converted as it comes.
int filter_input(const FilterOptions& options) {
  StreamSink sink;
  LineFilter filter(options, sink);
  std::vector<char> block(kBlock);
  while (!filter.stopped()) {
    flush_messages();
    const std::size_t got = stream_input_some(block.data(), block.size());
    if (got == 0) break;
    filter.feed(std::string_view(block.data(), got));
    if (stream_output_failed()) return 1;
  }
  if (stream_input_failed()) return 1;
  if (!filter.stopped()) filter.finish();
  if (filter.column_unknown()) return 2;
  return filter.failed() ? 1 : 0;
}

// A value that names a file the user meant to convert: how to do that.
std::string file_hint(std::string_view value) {
  const std::string path(value);
  struct stat status {};
  if (path.empty() || stat(path.c_str(), &status) != 0 || S_ISDIR(status.st_mode) || access(path.c_str(), R_OK) != 0) {
    return {};
  }
  const bool plain = path.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._/-+,=") ==
                     std::string::npos;
  return " (to convert the file, give it as standard input: < " + (plain ? path : quoted(path)) + ")";
}

// Each value on the command line, one result line each (an empty one when
// rejected). A value is never split: a line break in it makes it no number.
int convert_arguments(const Request& request) {
  const FilterOptions& options = request.filter;
  const std::string_view ending(&options.terminator, 1);
  std::string result;
  bool failed = false;
  for (const std::string_view written : request.values) {
    const std::string_view value = trim_blanks(written);
    const ValueError error = convert_written(value, options.format, &result);
    if (error == ValueError::None) {
      output(result);
      output(ending);
      continue;
    }
    const bool too_long = error == ValueError::TooLong;
    const std::string hint = error == ValueError::NotANumber ? file_hint(value) : std::string();
    if (options.invalid == Invalid::Abort) {
      rejection_message(0, 0, value, too_long, error, hint);
      return 1;
    }
    output(ending);  // an empty row keeps the rows aligned
    if (options.invalid != Invalid::Ignore) rejection_message(0, 0, value, too_long, error, hint);
    failed |= options.invalid == Invalid::Fail;
    if (stream_output_failed()) break;
  }
  return failed ? 1 : 0;
}

int run(int argc, char** argv) {
  Request request;
  std::string text;
  switch (parse_options(argc, argv, &request, &text)) {
    case Parsed::Answered:
      output(text);
      return stream_flush() ? 0 : 1;
    case Parsed::Wrong: return usage_error(text);
    case Parsed::Run: break;
  }
  const int status = request.values.empty() ? filter_input(request.filter) : convert_arguments(request);
  if (!stream_flush()) return 1;
  return status;
}

// Memory ran out: what was written goes out, then the message, and the
// program ends with status 1, allocating nothing more (an exception might
// find no memory to be thrown in).
void end_out_of_memory() {
  stream_flush();
  flush_messages();
  static constexpr char kMessage[] = "tempconv: out of memory\n";
  write_messages(std::string_view(kMessage, sizeof kMessage - 1));
  _exit(1);
}

}  // namespace

int run_command_line(int argc, char** argv) {
  std::set_new_handler(end_out_of_memory);
  std::setlocale(LC_CTYPE, "");  // which characters a message may show as they are
  stream_init(false);
  stream_set_failure_handler(report_stream_failure);
  messages.route = message_route();
  const int status = run(argc, argv);
  stream_flush();
  flush_messages();
  return messages.lost && status == 0 ? 1 : status;
}
