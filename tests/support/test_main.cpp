// Test entry: the run-time is started as the program starts it, but with the
// terminal left alone, so unit tests see plain standard I/O wherever they run.
#include <cstdlib>

#include <gtest/gtest.h>

#include "app/frame.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  unsetenv("TERM");
  runtime_startup();
  const int result = RUN_ALL_TESTS();
  runtime_shutdown();
  return result;
}
