// SPDX-License-Identifier: MIT
#include "runtime/input/inputrc.h"

#include <cctype>
#include <cstdlib>

#include "runtime/core/decimal.h"

namespace {

constexpr char kEscape = '\x1b';
constexpr char kRubout = '\x7f';
constexpr int kMostFilesRead = 64;  // includes in all: a file that includes itself twice does not multiply for ever

bool same_text(std::string_view a, std::string_view b) {  // ASCII, in any case, as readline compares names
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}
bool starts_with_text(std::string_view text, std::string_view start) {
  return text.size() >= start.size() && same_text(text.substr(0, start.size()), start);
}
std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}
bool blank(char c) { return c == ' ' || c == '\t'; }
std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (blank(text.front()) || text.front() == '\r')) text.remove_prefix(1);
  while (!text.empty() && (blank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
  return text;
}
// The first word, and the text after it (its blanks skipped).
std::string_view first_word(std::string_view text, std::string_view* rest = nullptr) {
  std::size_t end = 0;
  while (end < text.size() && !blank(text[end])) ++end;
  if (rest != nullptr) *rest = trimmed(text.substr(end));
  return text.substr(0, end);
}

// Where the quote that opens text (at 0) closes, skipping escaped bytes; npos if it does not.
std::size_t closing_quote(std::string_view text) {
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == text[0]) {
      return i;
    }
  }
  return std::string_view::npos;
}

char control_of(int c) { return c == '?' ? kRubout : static_cast<char>(std::toupper(c) & 0x1F); }

// The byte of the named keys readline knows, as in "Meta-Rubout: ..."; else
// the name's first byte.
char key_of_name(std::string_view name) {
  static constexpr struct {
    const char* name;
    char byte;
  } kNames[] = {{"DEL", kRubout},  {"ESC", kEscape}, {"ESCAPE", kEscape}, {"LFD", '\n'}, {"NEWLINE", '\n'},
                {"RET", '\r'},     {"RETURN", '\r'}, {"RUBOUT", kRubout}, {"SPACE", ' '}, {"SPC", ' '},
                {"TAB", '\t'}};
  for (const auto& row : kNames) {
    if (same_text(name, row.name)) return row.byte;
  }
  return name.empty() ? '\0' : name[0];
}

// "Control-Meta-x", "C-u", "M-DEL": the bytes of the key a name gives.
std::string keys_of_key_name(std::string_view name) {
  bool control = false, meta = false;
  for (;;) {
    if (starts_with_text(name, "Control-")) {
      control = true, name.remove_prefix(8);
    } else if (starts_with_text(name, "C-") && name.size() > 2) {
      control = true, name.remove_prefix(2);
    } else if (starts_with_text(name, "Meta-")) {
      meta = true, name.remove_prefix(5);
    } else if (starts_with_text(name, "M-") && name.size() > 2) {
      meta = true, name.remove_prefix(2);
    } else {
      break;
    }
  }
  char key = key_of_name(name);
  if (control) key = control_of(static_cast<unsigned char>(key));
  std::string keys = meta ? std::string(1, kEscape) : std::string();
  return keys + key;
}

bool octal(char c) { return c >= '0' && c <= '7'; }
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One escape after its backslash, at text[i]: its byte, i moved past it.
int unescaped_byte(std::string_view text, std::size_t* i) {
  const char e = text[(*i)++];
  switch (e) {
    case 'a': return 7;
    case 'b': return 8;
    case 'd': return kRubout;
    case 'e': return kEscape;
    case 'f': return 12;
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return 11;
    case 'x': {
      int value = 0, digits = 0;
      for (; digits < 2 && *i < text.size() && hex_value(text[*i]) >= 0; ++digits) value = value * 16 + hex_value(text[(*i)++]);
      return digits == 0 ? 'x' : value;
    }
    default:
      if (!octal(e)) return static_cast<unsigned char>(e);  // \\, \", \' and any other byte: itself
      int value = e - '0';
      for (int digits = 1; digits < 3 && *i < text.size() && octal(text[*i]); ++digits) value = value * 8 + (text[(*i)++] - '0');
      return value & 0xFF;
  }
}

// The state of one file's reading: which branch of each $if it is in.
struct Branch {
  bool outer_active;  // the lines around the $if are read
  bool taken;         // this branch is the one read
};

class Reader {
 public:
  Reader(const InputrcContext& context, Inputrc* out) : context_(context), out_(out), vi_(context.vi) {
    keymap_ = vi_ ? Keymap::ViInsert : Keymap::Emacs;
  }
  void read(std::string_view text, int depth);

 private:
  void read_line(std::string_view line, std::vector<Branch>* branches, int depth);
  void directive(std::string_view line, std::vector<Branch>* branches, int depth);
  bool condition(std::string_view test) const;
  void set(std::string_view rest);
  void bind(std::string_view line);
  void include(std::string_view path, int depth);

  const InputrcContext& context_;
  Inputrc* out_;
  bool vi_;
  Keymap keymap_;
  std::string keymap_prefix_;  // emacs-meta and emacs-ctlx: bindings there start with ESC or Ctrl+X
  int files_read_ = 1;
};

void Reader::read(std::string_view text, int depth) {
  std::vector<Branch> branches;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    read_line(text.substr(0, end), &branches, depth);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

void Reader::read_line(std::string_view line, std::vector<Branch>* branches, int depth) {
  line = trimmed(line);
  if (line.empty() || line[0] == '#') return;
  if (line[0] == '$') return directive(line.substr(1), branches, depth);
  if (!branches->empty() && !(branches->back().outer_active && branches->back().taken)) return;
  std::string_view rest;
  if (same_text(first_word(line, &rest), "set")) return set(rest);
  bind(line);
}

void Reader::directive(std::string_view line, std::vector<Branch>* branches, int depth) {
  std::string_view argument;
  const std::string_view name = first_word(line, &argument);
  const bool active = branches->empty() || (branches->back().outer_active && branches->back().taken);
  if (same_text(name, "if")) {
    branches->push_back({active, active && condition(argument)});
  } else if (same_text(name, "else")) {
    if (!branches->empty()) branches->back().taken = !branches->back().taken;
  } else if (same_text(name, "endif")) {
    if (!branches->empty()) branches->pop_back();
  } else if (same_text(name, "include") && active) {
    include(argument, depth);
  }
}

// $if term=NAME, mode=emacs|vi, version OP N.M, or the application's name.
bool Reader::condition(std::string_view test) const {
  if (starts_with_text(test, "term=")) {
    const std::string_view name = first_word(test.substr(5));
    const std::string_view term = context_.term;
    return !name.empty() && (same_text(name, term) || same_text(name, term.substr(0, term.find('-'))));
  }
  if (starts_with_text(test, "mode=")) {
    const std::string_view mode = first_word(test.substr(5));
    return same_text(mode, vi_ ? "vi" : "emacs");
  }
  if (starts_with_text(test, "version")) {
    std::string_view rest = trimmed(test.substr(7));
    std::string op;
    while (!rest.empty() && (rest[0] == '=' || rest[0] == '!' || rest[0] == '<' || rest[0] == '>')) {
      op += rest[0];
      rest.remove_prefix(1);
    }
    rest = trimmed(rest);
    if (rest.empty() || !std::isdigit(static_cast<unsigned char>(rest[0]))) return false;
    std::string_view number = first_word(rest);
    const LeadingDigits major = leading_digits(number, 1001);
    number.remove_prefix(major.length);
    LeadingDigits minor{0, 0};
    if (!number.empty() && number[0] == '.') {
      number.remove_prefix(1);
      minor = leading_digits(number, 100);
      number.remove_prefix(minor.length);
    }
    if (!number.empty() || major.value > 1000 || minor.value > 99) return false;
    const long wanted = static_cast<long>(major.value * 100 + minor.value), have = context_.version;
    if (op == "=" || op == "==") return have == wanted;
    if (op == "!=") return have != wanted;
    if (op == "<") return have < wanted;
    if (op == "<=") return have <= wanted;
    if (op == ">") return have > wanted;
    if (op == ">=") return have >= wanted;
    return false;
  }
  return same_text(first_word(test), context_.application);
}

void Reader::set(std::string_view rest) {
  std::string_view value;
  const std::string name = lower(first_word(rest, &value));
  if (name.empty()) return;
  if (name == "editing-mode") {
    const std::string mode = inputrc_string(value);
    if (same_text(mode, "vi") || same_text(mode, "emacs")) {
      vi_ = same_text(mode, "vi");
      keymap_ = vi_ ? Keymap::ViInsert : Keymap::Emacs;
      keymap_prefix_.clear();
    }
  } else if (name == "keymap") {
    const std::string map = lower(inputrc_string(value));
    static constexpr struct {
      const char* name;
      Keymap keymap;
      const char* prefix;
    } kKeymaps[] = {{"emacs", Keymap::Emacs, ""},          {"emacs-standard", Keymap::Emacs, ""},
                    {"emacs-meta", Keymap::Emacs, "\x1b"}, {"emacs-ctlx", Keymap::Emacs, "\x18"},
                    {"vi", Keymap::ViCommand, ""},         {"vi-move", Keymap::ViCommand, ""},
                    {"vi-command", Keymap::ViCommand, ""}, {"vi-insert", Keymap::ViInsert, ""}};
    for (const auto& row : kKeymaps) {
      if (map == row.name) {
        keymap_ = row.keymap;
        keymap_prefix_ = row.prefix;
      }
    }
  }
  out_->variables.push_back({name, std::string(value)});
}

// "keyseq": function, "keyseq": "macro", or keyname: the same.
void Reader::bind(std::string_view line) {
  std::string keys;
  std::string_view rest;
  if (line[0] == '"') {
    const std::size_t close = closing_quote(line);
    if (close == std::string_view::npos) return;
    keys = inputrc_unescape(line.substr(1, close - 1));
    rest = trimmed(line.substr(close + 1));
  } else {
    std::size_t end = 0;
    while (end < line.size() && line[end] != ':' && !blank(line[end])) ++end;
    if (end == 0) return;
    keys = keys_of_key_name(line.substr(0, end));
    rest = trimmed(line.substr(end));
  }
  if (keys.empty() || rest.empty() || rest[0] != ':') return;
  rest = trimmed(rest.substr(1));
  if (rest.empty()) return;
  InputrcBinding binding{keymap_, keymap_prefix_ + keys, "", false};
  if (rest[0] == '"' || rest[0] == '\'') {
    const std::size_t close = closing_quote(rest);
    binding.value = inputrc_unescape(rest.substr(1, close == std::string_view::npos ? rest.npos : close - 1));
    binding.macro = true;
  } else {
    binding.value = lower(first_word(rest));
  }
  out_->bindings.push_back(std::move(binding));
}

void Reader::include(std::string_view path, int depth) {
  if (path.empty() || depth >= kIncludeDepth || files_read_ >= kMostFilesRead || !context_.read_file) return;
  ++files_read_;
  std::string file(path);
  if (file.rfind("~/", 0) == 0) file = context_.home + file.substr(1);
  if (const std::optional<std::string> text = context_.read_file(file)) read(*text, depth + 1);
}

}  // namespace

Inputrc read_inputrc(std::string_view text, const InputrcContext& context) {
  Inputrc out;
  Reader(context, &out).read(text, 0);
  return out;
}

std::string inputrc_unescape(std::string_view text) {
  std::string out;
  bool control = false, meta = false;
  for (std::size_t i = 0; i < text.size();) {
    int c;
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char e = text[i + 1];
      if ((e == 'C' || e == 'M') && i + 3 < text.size() && text[i + 2] == '-') {
        (e == 'C' ? control : meta) = true;
        i += 3;
        continue;
      }
      i += 1;
      c = unescaped_byte(text, &i);
    } else {
      c = static_cast<unsigned char>(text[i++]);
    }
    if (control) c = static_cast<unsigned char>(control_of(c));
    if (meta) out += kEscape;
    control = meta = false;
    out += static_cast<char>(c);
  }
  return out;
}

bool inputrc_on(std::string_view value) {
  const std::string_view word = first_word(trimmed(value));
  return word.empty() || same_text(word, "on") || word == "1";
}

std::string inputrc_string(std::string_view value) {
  value = trimmed(value);
  if (!value.empty() && (value[0] == '"' || value[0] == '\'')) {
    const std::size_t close = closing_quote(value);
    return inputrc_unescape(value.substr(1, close == std::string_view::npos ? value.npos : close - 1));
  }
  return std::string(first_word(value));
}
