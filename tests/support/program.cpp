// SPDX-License-Identifier: MIT
#include "tests/support/program.h"

#include <cstdlib>
#include <sstream>

extern char** environ;

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

bool program_memory_is_its_own() {
#if defined(__SANITIZE_ADDRESS__)
  return false;
#else
  return !program_is_wrapped();
#endif
}

std::vector<std::string> program_environment(const std::vector<std::string>& extra) {
  std::vector<std::string> result;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = name == "TERM";
    for (const std::string& x : extra) replaced = replaced || x.substr(0, x.find('=')) == name;
    if (!replaced) result.push_back(entry);
  }
  result.insert(result.end(), extra.begin(), extra.end());
  return result;
}
