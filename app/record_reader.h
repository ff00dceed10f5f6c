// SPDX-License-Identifier: MIT
// Records and fields of a byte stream, however the stream is cut into reads.
//
// A record ends at the terminator (LF, with a CR before it belonging to the
// ending; or NUL). Its fields are the whole record, runs of non-blanks, or
// what lies between delimiters; with a delimiter, a field that begins with a
// double quote runs to its closing quote ("" is a quote inside it) and may
// hold delimiters and line ends (RFC 4180). No I/O and no copies: events
// give the bytes as spans of what was fed, or of the reader's own constants
// for bytes it had to wait on (a CR, the start of a delimiter), so every
// byte comes out exactly once and in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct RecordSyntax {
  enum class Split : uint8_t { Whole, Blanks, Delimiter };
  Split split = Split::Whole;
  std::string delimiter;  // with Split::Delimiter: one character, 1 to 4 bytes, never a quote, CR or terminator
  char terminator = '\n';
};

struct RecordEvent {
  enum class Kind : uint8_t {
    Record,         // a whole record at once: its bytes, its ending, and its parts (record_parts())
    Field,          // a whole field at once, no quotes: its bytes
    FieldBegin,     // a field given in parts:
    FieldBytes,     //   bytes of it, quotes included
    FieldEnd,
    Between,        // bytes between fields: a delimiter, or blanks
    RecordEnd,      // bytes: the ending as it came; empty at the end of the input
    UnclosedQuote,  // the input ended inside the quotes of the current field
    NeedMore,       // the bytes fed are used up
  };
  Kind kind;
  std::string_view bytes;
  std::string_view ending;  // of a Record
};

class RecordReader {
 public:
  explicit RecordReader(RecordSyntax syntax);
  // Hands over the next bytes: call next() until NeedMore. The spans of
  // events are valid until the next feed.
  void feed(std::string_view bytes);
  // The input ended: call next() until NeedMore; the last record is closed.
  void finish();
  RecordEvent next() {
    if (head_ == tail_) refill();
    return queue_[head_++];
  }
  // The parts of the Record just given: bytes between fields and fields in
  // turn, beginning and ending with the bytes between (blanks, a delimiter,
  // or none): between, field, between, ..., field, between.
  const std::vector<std::string_view>& record_parts() const { return parts_; }
  // Fields past the first n of a whole record are not told apart when no
  // quote could make them run past its line: they are given as the bytes
  // after the last field (a reader that wants no more of them).
  void set_fields_wanted(uint64_t n) { fields_wanted_ = n; }
  // The line (from 1) on which the record being read began.
  uint64_t record_line() const { return record_line_; }

 private:
  enum class State : uint8_t { FieldStart, Unquoted, Quoted, QuoteSeen };

  void refill();
  void scan();
  void resume_pending();
  void field_start();
  void unquoted();
  void quoted();
  void at_delimiter(std::size_t where);
  void field_done(std::size_t end);
  void end_record(std::string_view ending);
  void record_done(std::string_view ending);
  void close_input();
  void begin_record();
  void open_field();
  void push(RecordEvent::Kind kind, std::string_view bytes = {}, std::string_view ending = {});
  bool whole_record();
  bool split_whole(std::string_view record);
  std::size_t next_terminator();
  bool blank(char c) const { return syntax_.split == RecordSyntax::Split::Blanks && (c == ' ' || c == '\t'); }
  bool cr_ends_lines() const { return syntax_.terminator == '\n'; }

  RecordSyntax syntax_;
  std::string_view bytes_;  // what was fed
  std::size_t at_ = 0;      // the next byte of it to look at
  std::size_t terminator_at_ = 0;  // the next terminator at or after at_, or bytes_.size(); valid while >= at_
  bool terminator_known_ = false;
  State state_ = State::FieldStart;
  bool in_record_ = false;  // a byte of the current record has come
  bool in_field_ = false;   // FieldBegin given, FieldEnd not yet
  bool cr_pending_ = false;        // the bytes ended in a CR: the next byte tells whether it ends the line
  std::size_t delimiter_seen_ = 0; // the bytes ended in this much of a delimiter of several bytes
  bool ended_ = false;
  uint64_t line_ = 1;
  uint64_t record_line_ = 1;
  std::vector<std::string_view> parts_;  // of the last whole record
  uint64_t fields_wanted_ = UINT64_MAX;
  // Events not yet handed out: a step gives at most a few.
  RecordEvent queue_[8];
  std::size_t head_ = 0, tail_ = 0;
};
