// tempconv: a console temperature converter.
#include <cstdlib>
#include <string_view>

#include "app/converter.h"
#include "runtime/startup.h"
#include "runtime/term/term.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: tempconv [--help | --version]\n"
    "\n"
    "Converts temperatures between Fahrenheit and Celsius. Shows a menu, reads a\n"
    "choice (1: Fahrenheit to Celsius, 2: Celsius to Fahrenheit, 3: exit) and a\n"
    "temperature, and prints the result with up to 16 significant digits.\n"
    "With standard input redirected, values are read as fields separated by\n"
    "blanks, commas or line ends, and only the menus and results are printed.\n"
    "\n"
    "Keys while typing an answer on a terminal:\n"
    "  Left, Right, Ctrl+B, Ctrl+F   a character back or forward\n"
    "  Home, End, Ctrl+A, Ctrl+E     the start or end of the line\n"
    "  Up, Down                      a row within a wrapped line, else the history\n"
    "  Ctrl+P, Ctrl+N                the previous or next line typed at this prompt\n"
    "  Backspace, Delete             delete the character before or under the cursor\n"
    "  Ctrl+K, Ctrl+U, Ctrl+W        delete to the end, to the start, the word before\n"
    "  Ctrl+Left, Ctrl+Right         a word back or forward (also Alt+Left, Alt+Right,\n"
    "                                Alt+B, Alt+F)\n"
    "  Alt+D, Alt+Backspace          delete the word after or before the cursor\n"
    "  Ctrl+Y                        insert what the last deletions took\n"
    "  Ctrl+D                        delete under the cursor; on an empty line, end\n"
    "  Tab                           blanks to the next stop of 8\n"
    "  Escape                        clear the line\n"
    "  Ctrl+L                        clear the screen\n"
    "  Enter                         take the line\n"
    "  Ctrl+C, Ctrl+Z                quit, suspend\n"
    "\n"
    "Exit status: 0 after choice 3 or at the end of the input; 1 when memory\n"
    "runs out or standard input or output fails.\n";

// Answers --help and --version, before the terminal is touched.
int answer(std::string_view text) {
  term_output(text.data(), text.size());
  return term_flush() ? EXIT_SUCCESS : EXIT_FAILURE;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {  // any other argument is ignored
    const std::string_view argument = argv[i];
    if (argument == "--help") return answer(kUsage);
    if (argument == "--version") return answer("tempconv " TEMPCONV_VERSION "\n");
  }
  // Shut-down runs once, at whichever exit ends the process.
  runtime_startup();
  if (std::atexit(runtime_shutdown) != 0) {
    runtime_shutdown();  // the terminal must never be left as the program set it
    return EXIT_FAILURE;
  }
  converter_loop();
}
