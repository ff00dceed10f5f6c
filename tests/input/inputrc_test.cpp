// SPDX-License-Identifier: MIT
// The inputrc reader: what each text binds and sets, as readline reads it.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/input/inputrc.h"

namespace {

// The bindings as "keymap keys -> value" lines, keys and macros with their
// control bytes shown as ^X and ESC as \e, so a table row reads as the file does.
std::string shown(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    if (c == '\x1b') {
      out += "\\e";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += '^', out += static_cast<char>(c + '@');
    } else if (c == '\x7f') {
      out += "^?";
    } else {
      out += c;
    }
  }
  return out;
}
std::string summary(const Inputrc& read) {
  std::string out;
  for (const InputrcVariable& variable : read.variables) out += "set " + variable.name + "=" + variable.value + "; ";
  for (const InputrcBinding& binding : read.bindings) {
    const char* map = binding.keymap == Keymap::Emacs ? "" : (binding.keymap == Keymap::ViInsert ? "ins " : "cmd ");
    out += map + shown(binding.keys) + (binding.macro ? " -> \"" + shown(binding.value) + "\"" : " -> " + binding.value);
    out += "; ";
  }
  return out;
}

TEST(Inputrc, EachTextBindsAndSetsAsReadlineReadsIt) {
  const struct {
    const char* name;
    const char* text;
    const char* read;
  } cases[] = {
      {"both forms of binding", "\"\\e[A\": history-search-backward\nControl-u: kill-line\nC-t:backward-char",
       "\\e[A -> history-search-backward; ^U -> kill-line; ^T -> backward-char; "},
      {"key names and modifiers", "Meta-Rubout: a\nM-DEL: b\nESC: c\nSPC: d\nRETURN: e\nTAB: f\nC-?: g\nM-C-x: h",
       "\\e^? -> a; \\e^? -> b; \\e -> c;   -> d; ^M -> e; ^I -> f; ^? -> g; \\e^X -> h; "},
      {"escapes in a sequence", R"("\C-x\C-r": r
"\M-.": y
"\M-\C-y": n
"\e\\\"\'": q
"\a\b\d\f\n\r\t\v": all
"\101\x42\x4g\1": numbers)",
       "^X^R -> r; \\e. -> y; \\e^Y -> n; \\e\\\"' -> q; ^G^H^?^L^J^M^I^K -> all; AB^Dg^A -> numbers; "},
      {"macros, in either quote, with escapes", "\"\\ex\": \"212\"\n\"\\C-o\": '-40\\r'\n\"\\C-b\": \"a\\\"b",
       "\\ex -> \"212\"; ^O -> \"-40^M\"; ^B -> \"a\"b\"; "},
      {"a function's name in any case, words after it ignored", "\"a\": Backward-Char  # back\n",
       "a -> backward-char; "},
      {"comments, blanks and junk skipped", "# a comment\n\n   \t\nnonsense\n\"unclosed: x\nC-a\n: x\n\"a\":\n",
       ""},
      {"variables in order, names in lower case", "set Bell-Style none\nset editing-mode vi\nset\n",
       "set bell-style=none; set editing-mode=vi; "},
      {"the editing mode picks the keymap; keymap picks one too", R"(set editing-mode vi
"x": a
set keymap vi-command
"x": b
set keymap emacs-meta
"x": c
set keymap emacs-ctlx
"x": d
set editing-mode emacs
"x": e)",
       "set editing-mode=vi; set keymap=vi-command; set keymap=emacs-meta; set keymap=emacs-ctlx; "
       "set editing-mode=emacs; ins x -> a; cmd x -> b; \\ex -> c; ^Xx -> d; x -> e; "},
      {"$if on the terminal, whole or before its dash", "$if term=xterm\n\"a\": x\n$endif\n$if term=xterm-256color\n"
                                                       "\"b\": y\n$else\n\"b\": n\n$endif\n$if term=screen\n\"c\": n\n$endif",
       "a -> x; b -> y; "},
      {"$if mode, nested, $else", "$if mode=vi\n\"a\": n\n$if term=xterm\n\"b\": n\n$else\n\"c\": n\n$endif\n$else\n"
                                  "\"d\": y\n$endif\n$if mode=emacs\n\"e\": y\n$endif",
       "d -> y; e -> y; "},
      {"$if the application, in any case", "$if TempConv\n\"a\": y\n$endif\n$if Bash\n\"b\": n\n$endif", "a -> y; "},
      {"$if version compares with readline 8.2", "$if version >= 8.0\n\"a\": y\n$endif\n$if version < 8\n\"b\": n\n"
                                                  "$endif\n$if version == 8.2\n\"c\": y\n$endif\n$if version=8.1\n\"d\": n\n"
                                                  "$endif\n$if version > x\n\"e\": n\n$endif",
       "a -> y; c -> y; "},
      {"an unbalanced $endif or $else is nothing", "$endif\n$else\n\"a\": y", "a -> y; "},
      {"$include, with ~, and not from a branch not taken", "$include ~/more\n$if term=vt52\n$include /etc/more\n$endif",
       "m -> from-home; "},
      {"a file that includes itself stops", "$include /self\n\"a\": y", "a -> y; a -> y; a -> y; a -> y; a -> y; a -> y; "
                                                                        "a -> y; a -> y; a -> y; "},
      {"a file that cannot be read is nothing", "$include /missing\n\"a\": y", "a -> y; "},
  };
  const std::map<std::string, std::string> files = {
      {"/home/me/more", "\"m\": from-home"}, {"/etc/more", "\"m\": from-etc"}, {"/self", "$include /self\n\"a\": y"}};
  InputrcContext context;
  context.term = "xterm-256color";
  context.home = "/home/me";
  context.read_file = [&files](const std::string& path) -> std::optional<std::string> {
    const auto found = files.find(path);
    if (found == files.end()) return std::nullopt;
    return found->second;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(summary(read_inputrc(c.text, context)), c.read);
  }
}

TEST(Inputrc, ValuesAsBooleansAndStrings) {
  for (const auto& [value, on] : {std::pair{"on", true}, {"On", true}, {"1", true}, {"", true}, {"off", false},
                                  {"yes", false}, {"on # comment", true}}) {
    EXPECT_EQ(inputrc_on(value), on) << value;
  }
  EXPECT_EQ(inputrc_string("\"\\e[1m(vi)\\e[0m \" # shown"), "\x1b[1m(vi)\x1b[0m ");
  EXPECT_EQ(inputrc_string("none  # no bell"), "none");
}

}  // namespace
