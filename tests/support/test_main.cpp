// SPDX-License-Identifier: MIT
// Test entry: the run-time is started as the program starts it, but with the
// terminal left alone, so unit tests see plain standard I/O wherever they run.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/startup.h"

extern char** environ;

namespace {

// Some tests point standard output at a file or a pseudo-terminal for a while;
// failures are repeated on standard error so they are never lost.
class FailuresToStderr : public ::testing::EmptyTestEventListener {
  void OnTestPartResult(const ::testing::TestPartResult& result) override {
    if (!result.failed()) return;
    std::fprintf(stderr, "%s:%d: Failure\n%s\n", result.file_name() ? result.file_name() : "?",
                 result.line_number(), result.message());
  }
};

// What the program reads from its environment is set here, so that every test,
// and every program and tmux server a test starts, sees the same whatever
// the machine's settings: a UTF-8 locale, no terminal, no size or escape wait
// given, no inputrc (the user's would rebind keys). A test that relies on other settings gives them itself.
void set_the_environment_tests_rely_on() {
  std::vector<std::string> names;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string name(*entry, std::strcspn(*entry, "="));
    if (name.rfind("LC_", 0) == 0) names.push_back(name);
  }
  for (const char* name : {"TERM", "TERMCAP", "TERMINFO", "ESCDELAY", "COLUMNS", "LINES", "LANGUAGE"}) names.push_back(name);
  for (const std::string& name : names) unsetenv(name.c_str());
  setenv("LANG", "C.UTF-8", 1);
  setenv("INPUTRC", "/dev/null", 1);  // not a file: nothing read, and no fallback to ~/.inputrc
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new FailuresToStderr);
  set_the_environment_tests_rely_on();
  runtime_startup();
  const int result = RUN_ALL_TESTS();
  runtime_shutdown();
  return result;
}
