// SPDX-License-Identifier: MIT
// Test entry: the run-time is started as the program starts it, but with the
// terminal left alone, so unit tests see plain standard I/O wherever they run.
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "runtime/startup.h"

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

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new FailuresToStderr);
  unsetenv("TERM");
  runtime_startup();
  const int result = RUN_ALL_TESTS();
  runtime_shutdown();
  return result;
}
