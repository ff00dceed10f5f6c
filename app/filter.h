// SPDX-License-Identifier: MIT
// The command line's filter: lines converted as they come, in bounded
// memory. Each line is one value (blanks around it and a CR before the line
// end allowed), or, with fields chosen, only those fields change and every
// other byte of the line, its line end included, is copied as it came.
// Header lines are copied unchanged; a UTF-8 byte-order mark at the very
// start is dropped, or copied with the header. It does no I/O: bytes are fed
// in, results and rejections go out through a sink.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/exact.h"

// What to convert: from a scale (or the one a value's suffix names), to a
// scale, rounded as asked.
struct Conversion {
  std::optional<Scale> from;
  Scale to = Scale::Celsius;
  Precision precision;
};

// --field's list: field numbers from 1, as N, N-M, N- or -M, comma-separated.
class FieldList {
 public:
  static std::optional<FieldList> parse(std::string_view text);
  bool empty() const { return ranges_.empty(); }
  bool contains(uint64_t field) const {
    return field < 64 ? ((first_fields_ >> field) & 1) != 0 : contained_in_ranges(field);
  }

 private:
  bool contained_in_ranges(uint64_t field) const;
  std::vector<std::pair<uint64_t, uint64_t>> ranges_;  // inclusive
  uint64_t first_fields_ = 0;                          // bit n: field n is in the list, for n below 64
};

struct FilterOptions {
  Conversion conversion;
  FieldList fields;               // empty: each line is one value
  std::optional<char> delimiter;  // with fields; none: fields are runs of non-blanks
  uint64_t header_lines = 0;      // the first lines, copied unchanged
  bool input_start = true;        // a byte-order mark may come first
};

class FilterSink {
 public:
  virtual void output(std::string_view bytes) = 0;
  // A value left unconverted: its line, its field (0: the whole line), its
  // first bytes (cut: there were more) and why.
  virtual void rejected(uint64_t line, uint64_t field, std::string_view value, bool cut, ValueError error) = 0;

 protected:
  ~FilterSink() = default;
};

class LineFilter {
 public:
  LineFilter(const FilterOptions& options, FilterSink& sink) : options_(options), sink_(sink) {}
  void feed(std::string_view bytes);
  // The input ended: a last line without its line end counts.
  void finish();
  bool all_converted() const { return all_converted_; }

 private:
  // At most this much of a value is held; a longer one is too long.
  static constexpr std::size_t kHeld = EXACT_VALUE_MAX + 1;
  // Bytes of a value, the first kHeld of them kept.
  struct Held {
    std::string bytes;
    uint64_t length = 0;
    void add(std::string_view part);
    bool too_long() const { return length > EXACT_VALUE_MAX; }
    void clear() {
      bytes.clear();
      length = 0;
    }
  };

  void content(std::string_view bytes);  // of the current line, without its line end
  void line_end(std::string_view ending);  // "\n", "\r\n", or none when the input ended
  void plain_content(std::string_view bytes);
  void hold_plain(std::string_view bytes);
  void keep_whole();
  void field_content(std::string_view bytes);
  void start_field();
  void hold_field(std::string_view part);
  void end_field();
  // Output, in order. copy: bytes of the input, which go out as one run while
  // they follow each other there; put: any other bytes, at once.
  void copy(std::string_view bytes);
  void put(std::string_view bytes);
  void write_out();
  void reject(uint64_t field, std::string_view value, bool cut, ValueError error);
  void convert_held(std::string_view value, uint64_t field);
  bool in_header() const { return line_ <= options_.header_lines; }
  std::size_t take_byte_order_mark(std::string_view bytes);

  FilterOptions options_;
  FilterSink& sink_;
  bool all_converted_ = true;
  uint64_t line_ = 1;             // the line being read, from 1
  bool line_begun_ = false;       // some byte of it has come
  bool cr_pending_ = false;       // the last byte was a CR: the next decides if it ends the line
  std::size_t mark_matched_ = 0;  // bytes of a byte-order mark seen at the very start
  std::string result_;            // reused for every conversion
  // One value per line: the value so far, and the blanks after it that are
  // its own only if more of it follows. A value that came in one piece is
  // looked at where it stands.
  std::string_view whole_;
  Held value_;
  Held blanks_;
  // Fields: the current one (0 before the first), whether the bytes are in
  // it, whether it is chosen, its bytes while it is (copied as they come
  // once it is too long).
  uint64_t field_ = 0;
  bool in_field_ = false;
  bool chosen_ = false;
  bool overflowed_ = false;
  std::string_view field_view_;  // a chosen field whole in the bytes being fed
  Held field_bytes_;
  std::string_view unwritten_;   // output not yet handed to the sink
};
