// SPDX-License-Identifier: MIT
// A private folder for one test: made with mkdtemp, removed on destruction,
// and only ever the folder this object made. If it cannot be made, path() is
// empty and made() false: the test fails with that reason instead of falling
// back to a shared folder.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

class TempDir {
 public:
  explicit TempDir(const std::string& prefix) {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);  // TMPDIR, else /tmp
    if (error) return;
    std::string pattern = base / (prefix + "-XXXXXX");
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool made() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  // Writes a file of that name in the folder; its path, or "" if it could not be written.
  std::string write(const std::string& name, const std::string& text) const {
    if (path_.empty()) return "";
    const std::string file = path_ + "/" + name;
    std::FILE* out = std::fopen(file.c_str(), "w");
    if (out == nullptr) return "";
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && written ? file : "";
  }

 private:
  std::string path_;
};
