// SPDX-License-Identifier: MIT
// The line filter fed in pieces, for its test and its fuzz target: what it
// writes, the messages it gives, and both in the order they came.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "app/filter.h"

class Collected final : public FilterSink {
 public:
  std::string out, messages, both;
  void output(std::string_view bytes) override {
    out.append(bytes);
    both.append(bytes);
  }
  void rejected(uint64_t line, uint64_t field, std::string_view value, bool cut, ValueError error) override {
    message(std::to_string(line) + ":" + std::to_string(field) + ":" + std::string(value) + (cut ? "...:" : ":") +
            value_error_text(error) + "\n");
  }
  void column_unknown(std::string_view name, bool twice) override {
    message("column " + std::string(name) + (twice ? " twice\n" : " missing\n"));
  }

 private:
  void message(const std::string& text) {
    messages += text;
    both += "\n#" + text;
  }
};

// The input fed in pieces ending at the cuts, in any order.
inline Collected filtered(const FilterOptions& options, std::string_view input, std::vector<std::size_t> cuts) {
  Collected sink;
  LineFilter filter(options, sink);
  std::sort(cuts.begin(), cuts.end());
  std::size_t from = 0;
  for (const std::size_t cut : cuts) {
    filter.feed(input.substr(from, cut - from));
    from = cut;
  }
  filter.feed(input.substr(from));
  filter.finish();
  return sink;
}
