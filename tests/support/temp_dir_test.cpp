// SPDX-License-Identifier: MIT
// The private test folder: made under TMPDIR, removed with everything in it,
// and never replaced by a shared folder when it cannot be made.
#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

namespace {

TEST(TempDir, RemovesOnlyWhatItMadeAndNeverFallsBack) {
  TempDir outer("tempconv-outer");
  ASSERT_TRUE(outer.made());
  const std::string saved = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "";
  setenv("TMPDIR", outer.path().c_str(), 1);
  std::string made_path;
  {
    TempDir inner("tempconv-inner");
    ASSERT_TRUE(inner.made());
    made_path = inner.path();
    std::ofstream(inner.path() + "/file") << "x";
  }
  EXPECT_FALSE(std::filesystem::exists(made_path));
  EXPECT_TRUE(std::filesystem::exists(outer.path()));  // its parent is left alone

  setenv("TMPDIR", (outer.path() + "/missing").c_str(), 1);
  {
    TempDir unmade("tempconv-unmade");
    EXPECT_FALSE(unmade.made());
    EXPECT_EQ(unmade.path(), "");
  }
  EXPECT_TRUE(std::filesystem::exists(outer.path()));
  if (saved.empty()) {
    unsetenv("TMPDIR");
  } else {
    setenv("TMPDIR", saved.c_str(), 1);
  }
}

}  // namespace
