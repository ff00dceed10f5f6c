// SPDX-License-Identifier: MIT
// The command line's filter: records converted as they come, in bounded
// memory, the same bytes out however the input is cut into reads. Each
// record (a line, or NUL-ended) is one value, blanks around it and a CR
// before the line end allowed; or, with fields chosen, only those fields
// change and every other byte, the ending included, is copied as it came. A
// chosen field too long to convert is left whole. Header records are copied
// unchanged, and name the columns that --field may give by name; a UTF-8
// byte-order mark at the very start is copied where bytes are copied (fields
// chosen, or a header), and dropped where each line is one value.
// It does no I/O: bytes are fed in, results and rejections go out through a
// sink.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/exact.h"
#include "app/record_reader.h"

// What a value is converted with: the exact conversion, and the decimal
// separator (with a comma, a point is not one).
struct ValueFormat {
  Conversion conversion;
  bool decimal_comma = false;
};
// Text without the blanks (spaces and tabs) around it.
std::string_view trim_blanks(std::string_view text);
// Converts one value as written; the result replaces *out.
ValueError convert_written(std::string_view value, const ValueFormat& format, std::string* out);

// --field's list: field numbers from 1, as N, N-M, N- or -M, and column
// names, comma-separated. Looked up with fields in increasing order within
// a record, at a cost that does not grow with the list.
class FieldList {
 public:
  static std::optional<FieldList> parse(std::string_view text);
  bool empty() const { return ranges_.empty() && names_.empty(); }
  // The names as given, and of a quoted one its text as CSV reads it ("" for
  // one not quoted): a column is named as the header reads it, or failing
  // that by that text.
  const std::vector<std::string>& names() const { return names_; }
  const std::vector<std::string>& unquoted_names() const { return unquoted_; }
  // The last field a record may have chosen (0: none).
  uint64_t last() const { return ranges_.empty() ? 0 : ranges_.back().second; }
  // The names' fields, as the header gives them (one per name); then the
  // list is ready to look up.
  void resolve(const std::vector<uint64_t>& fields);

  // Where a lookup stands: start one for each record.
  struct Cursor {
    std::size_t range = 0;
  };
  bool contains(uint64_t field, Cursor* cursor) const {
    while (cursor->range < ranges_.size() && ranges_[cursor->range].second < field) ++cursor->range;
    return cursor->range < ranges_.size() && ranges_[cursor->range].first <= field;
  }

 private:
  void merge();
  std::vector<std::pair<uint64_t, uint64_t>> ranges_;  // inclusive; sorted and apart once merged
  std::vector<std::string> names_;
  std::vector<std::string> unquoted_;
};

// What to do with a value that cannot be converted.
enum class Invalid : uint8_t {
  Fail,    // a message, left as written (an empty row for a whole record), status 1
  Warn,    // the same with status 0
  Ignore,  // no message, status 0
  Abort,   // a message, and nothing more: the output ends before it, status 1
};

struct FilterOptions {
  ValueFormat format;
  FieldList fields;                  // empty: each record is one value
  std::optional<std::string> delimiter;  // with fields; none: fields are runs of blanks
  uint64_t header_records = 0;       // the first records, copied unchanged
  char terminator = '\n';            // records end in LF (CR LF) or NUL
  Invalid invalid = Invalid::Fail;
  bool input_start = true;           // a byte-order mark may come first
};

class FilterSink {
 public:
  virtual void output(std::string_view bytes) = 0;
  // A value left unconverted: the line its record began on, its field (0:
  // the whole record), its first bytes (cut: there were more) and why.
  virtual void rejected(uint64_t line, uint64_t field, std::string_view value, bool cut, ValueError error) = 0;
  // A column --field names is not in the header, or is there twice.
  virtual void column_unknown(std::string_view name, bool twice) = 0;

 protected:
  ~FilterSink() = default;
};

class LineFilter {
 public:
  LineFilter(const FilterOptions& options, FilterSink& sink);
  void feed(std::string_view bytes);
  // The input ended: a last record without its ending counts.
  void finish();
  // A value was rejected and the mode counts it a failure.
  bool failed() const { return failed_; }
  // Nothing more is wanted: aborted at a bad value, or a column is unknown.
  bool stopped() const { return stopped_; }
  bool column_unknown() const { return column_unknown_; }

 private:
  // The longest chosen field held to be converted, blanks and quotes
  // included; a longer one is too long, and copied as it comes.
  static constexpr std::size_t kFieldHeld = 2 * EXACT_VALUE_MAX;
  // Bytes of a value kept to convert or to show, with how many came.
  struct Held {
    std::string bytes;
    uint64_t length = 0;
    void add(std::string_view part, std::size_t keep);
    void clear() {
      bytes.clear();
      length = 0;
    }
  };

  void handle(const RecordEvent& event);
  void take_byte_order_mark(std::string_view* bytes);
  void whole_record(std::string_view ending);
  void whole_field(std::string_view bytes);
  void field_begin();
  void field_bytes(std::string_view bytes);
  void field_end();
  void record_end(std::string_view ending);
  void plain_bytes(std::string_view bytes);
  void hold_plain(std::string_view bytes);
  void plain_record_end(std::string_view ending);
  void chosen_bytes(std::string_view bytes);
  void overflow(std::string_view more);
  void convert_field(std::string_view raw, bool in_input);
  void header_field_bytes(std::string_view bytes);
  void header_field_end();
  void resolve_names();
  void keep_views();
  void tell_fields_wanted();
  bool in_header() const { return record_ <= options_.header_records; }
  // Output, in order. copy: bytes of the input, which go out as one run while
  // they follow each other there; put: any other bytes, at once.
  void copy(std::string_view bytes);
  void put(std::string_view bytes);
  void write_out();
  void emit(std::string_view bytes);
  void reject(uint64_t field, std::string_view value, bool cut, ValueError error);
  void end_row(std::string_view ending);
  void record_done();
  void tell_rejections();

  FilterOptions options_;
  FilterSink& sink_;
  RecordReader reader_;
  bool quoting_;                  // a field that begins with a quote runs to its closing quote
  bool failed_ = false;
  bool stopped_ = false;
  bool column_unknown_ = false;
  std::size_t mark_matched_ = 0;  // bytes of a byte-order mark seen at the very start
  uint64_t record_ = 1;           // the record being read, from 1
  std::string result_;            // reused for every conversion
  // The current field: its number (0 before the first), whether it is
  // chosen, a chosen field's bytes: looked at where they stand while they
  // are in the bytes fed, held once they are not, copied as they come once
  // too long (only their start kept, for the message).
  uint64_t field_ = 0;
  FieldList::Cursor cursor_;
  bool chosen_ = false;
  bool overflowed_ = false;
  bool unclosed_ = false;
  std::string_view view_;
  Held held_;
  // One value per record: blanks before it are dropped, blanks after it kept
  // aside until more of it follows.
  Held value_;
  Held blanks_;
  // Column names: the fields of the last header record that carry them,
  // and the header's output held until they are known (up to a bound).
  std::vector<uint64_t> name_fields_;
  std::vector<uint64_t> unquoted_fields_;  // ... by a quoted name's text
  bool names_pending_ = false;
  bool holding_output_ = false;
  std::string held_output_;
  std::string_view unwritten_;  // output not yet handed to the sink
  // A record's row is held until its end, and its messages after it, so
  // that a message never lands inside a row (up to a bound: a longer row
  // goes out as it comes, and its messages with it).
  struct Rejection {
    uint64_t line, field;
    std::string value;
    bool cut;
    ValueError error;
  };
  std::string row_;
  bool row_spilled_ = false;
  int row_last_byte_ = -1;  // of the row's output so far (-1: none)
  uint64_t row_bytes_ = 0;  // of the row's output so far, held or not
  std::vector<Rejection> rejections_;
};
