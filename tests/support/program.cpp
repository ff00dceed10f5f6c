#include "tests/support/program.h"

#include <cstdlib>
#include <sstream>

std::vector<std::string> program_command() {
  std::vector<std::string> words;
  if (const char* wrapper = std::getenv("TEMPCONV_TEST_WRAPPER")) {
    std::istringstream split(wrapper);
    for (std::string word; split >> word;) words.push_back(word);
  }
  words.push_back(TEMPCONV_BINARY);
  return words;
}

std::string program_shell_command() {
  std::string command;
  for (const std::string& word : program_command()) command += (command.empty() ? "" : " ") + word;
  return command;
}

bool program_is_wrapped() { return program_command().size() > 1; }
