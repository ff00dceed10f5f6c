// SPDX-License-Identifier: MIT
// Context slots, the runtime error code and the start-up counter.
#include <gtest/gtest.h>

#include "runtime/core/core.h"
#include "runtime/startup.h"

namespace {

int destructor_calls = 0;
void count_destruction(void* data) {
  EXPECT_EQ(static_cast<int*>(data)[0], 42);  // the data area is handed over intact
  ++destructor_calls;
}

TEST(ContextSlots, FirstRequestCreatesZeroFilledRecordLaterOnesReturnIt) {
  auto* data = static_cast<unsigned char*>(context_get(4, 64, nullptr));
  ASSERT_NE(data, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(data[i], 0);
  data[0] = 7;
  EXPECT_EQ(context_get(4, 64, nullptr), data);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % alignof(std::max_align_t), 0u);
  context_release(4);
}

TEST(ContextSlots, ReleaseRunsTheDestructorOnceAndEmptiesTheSlot) {
  destructor_calls = 0;
  static_cast<int*>(context_get(5, 16, count_destruction))[0] = 42;
  context_release(5);
  context_release(5);  // empty now: left alone
  EXPECT_EQ(destructor_calls, 1);
  auto* fresh = static_cast<int*>(context_get(5, 16, nullptr));
  EXPECT_EQ(fresh[0], 0);
  context_release(5);
}

TEST(ContextSlots, IndicesOutsideTheSixSlotsHaveNoRecord) {
  EXPECT_EQ(context_get(-1, 8, nullptr), nullptr);
  EXPECT_EQ(context_get(6, 8, nullptr), nullptr);
  context_release(6);
}

TEST(Startup, NestedStartAndStopOnlyCount) {
  // The test program has started the run-time once; a second start and its stop change nothing.
  set_error(1);
  runtime_startup();
  runtime_shutdown();
  EXPECT_EQ(get_error(), 1);
  set_error(0);
}

}  // namespace
