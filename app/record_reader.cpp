// SPDX-License-Identifier: MIT
#include "app/record_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {
constexpr std::string_view kCr = "\r";
constexpr std::string_view kCrLf = "\r\n";
}  // namespace

RecordReader::RecordReader(RecordSyntax syntax) : syntax_(std::move(syntax)) {}

void RecordReader::feed(std::string_view bytes) {
  bytes_ = bytes;
  at_ = 0;
  terminator_known_ = false;
}

void RecordReader::finish() {
  feed({});
  ended_ = true;
}

void RecordReader::refill() {
  do {
    head_ = tail_ = 0;
    scan();
  } while (tail_ == 0);
}

void RecordReader::push(RecordEvent::Kind kind, std::string_view bytes, std::string_view ending) {
  queue_[tail_++] = {kind, bytes, ending};
}

namespace {

// Where the delimiter that ends an unquoted field from at begins, or the record's size.
std::size_t delimiter_at(std::string_view record, std::size_t at, std::string_view delimiter) {
  if (delimiter.size() == 1) {
    const void* found = std::memchr(record.data() + at, delimiter[0], record.size() - at);
    return found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - record.data()) : record.size();
  }
  while (at < record.size()) {
    const void* found = std::memchr(record.data() + at, delimiter[0], record.size() - at);
    if (found == nullptr) break;
    at = static_cast<std::size_t>(static_cast<const char*>(found) - record.data());
    if (record.compare(at, delimiter.size(), delimiter) == 0) return at;
    ++at;
  }
  return record.size();
}

bool blank_byte(char c) { return c == ' ' || c == '\t'; }

// The closing quote of a quoted field whose text begins at at; npos when
// the record ends first.
std::size_t closing_quote(std::string_view record, std::size_t at) {
  for (;;) {
    const void* found = std::memchr(record.data() + at, '"', record.size() - at);
    if (found == nullptr) return std::string_view::npos;
    at = static_cast<std::size_t>(static_cast<const char*>(found) - record.data());
    if (at + 1 == record.size() || record[at + 1] != '"') return at;
    at += 2;  // "" is a quote in the text
  }
}

}  // namespace

// One step: pushes the events of the next few bytes (or none, after a change
// of state that gives nothing yet).
void RecordReader::scan() {
  if (cr_pending_ || delimiter_seen_ != 0) {
    if (at_ < bytes_.size() || ended_) {
      resume_pending();
    } else {
      push(RecordEvent::Kind::NeedMore);
    }
    return;
  }
  if (at_ == bytes_.size()) {
    if (ended_ && (in_record_ || state_ != State::FieldStart)) {
      close_input();
    } else {
      push(RecordEvent::Kind::NeedMore);
    }
    return;
  }
  switch (state_) {
    case State::FieldStart: field_start(); break;
    case State::Unquoted: unquoted(); break;
    case State::Quoted: quoted(); break;
    case State::QuoteSeen:
      if (bytes_[at_] == '"') {  // "" inside quotes: a quote, and the field goes on
        push(RecordEvent::Kind::FieldBytes, bytes_.substr(at_++, 1));
        state_ = State::Quoted;
      } else {  // the closing quote; anything up to the delimiter is the field's too
        state_ = State::Unquoted;
      }
      break;
  }
}

// The bytes fed before ended in a CR or in the first bytes of a delimiter:
// the bytes now (or the end of the input) tell what they were.
void RecordReader::resume_pending() {
  if (cr_pending_) {
    cr_pending_ = false;
    if (at_ < bytes_.size() && bytes_[at_] == '\n') {
      ++at_;
      end_record(kCrLf);
      return;
    }
    if (ended_ && at_ == bytes_.size()) {  // a CR at the very end: the last line's, its LF missing
      end_record(kCr);
      return;
    }
    if (state_ == State::FieldStart) {
      open_field();
      state_ = State::Unquoted;
    }
    push(RecordEvent::Kind::FieldBytes, kCr);
    return;
  }
  const std::string_view delimiter = syntax_.delimiter;
  const std::string_view rest = delimiter.substr(delimiter_seen_);
  const std::size_t n = std::min(rest.size(), bytes_.size() - at_);
  if (!ended_ && bytes_.compare(at_, n, rest, 0, n) == 0) {
    at_ += n;
    if (n < rest.size()) {  // still only part of it
      delimiter_seen_ += n;
      return;
    }
    delimiter_seen_ = 0;
    open_field();
    push(RecordEvent::Kind::FieldEnd);
    in_field_ = false;
    push(RecordEvent::Kind::Between, delimiter);
    state_ = State::FieldStart;
    return;
  }
  // Not a delimiter: what was seen of it is the field's own.
  const std::string_view seen = delimiter.substr(0, delimiter_seen_);
  delimiter_seen_ = 0;
  if (state_ == State::FieldStart) {
    open_field();
    state_ = State::Unquoted;
  }
  push(RecordEvent::Kind::FieldBytes, seen);
}

void RecordReader::begin_record() {
  if (in_record_) return;
  in_record_ = true;
  record_line_ = line_;
}

void RecordReader::open_field() {
  if (in_field_) return;
  push(RecordEvent::Kind::FieldBegin);
  in_field_ = true;
}

std::size_t RecordReader::next_terminator() {
  if (!terminator_known_ || terminator_at_ < at_) {
    const void* found = std::memchr(bytes_.data() + at_, syntax_.terminator, bytes_.size() - at_);
    terminator_at_ = found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - bytes_.data())
                                      : bytes_.size();
    terminator_known_ = true;
  }
  return terminator_at_;
}

// The usual record: it begins here and ends in these bytes, quotes closed
// on its line: given whole, split into its parts.
bool RecordReader::whole_record() {
  const std::size_t terminator = next_terminator();
  if (terminator == bytes_.size()) return false;
  std::size_t end = terminator;
  if (cr_ends_lines() && end > at_ && bytes_[end - 1] == '\r') --end;
  const std::string_view record = bytes_.substr(at_, end - at_);
  if (!split_whole(record)) return false;
  record_line_ = line_++;
  push(RecordEvent::Kind::Record, record, bytes_.substr(end, terminator + 1 - end));
  at_ = terminator + 1;
  return true;
}

// The parts of a whole record, as the events would give them; false when a
// quoted field goes on past its line.
bool RecordReader::split_whole(std::string_view record) {
  parts_.clear();
  if (syntax_.split == RecordSyntax::Split::Whole) {
    parts_.insert(parts_.end(), {{}, record, {}});
    return true;
  }
  if (syntax_.split == RecordSyntax::Split::Blanks) {
    for (std::size_t at = 0;;) {
      std::size_t start = at;
      while (start < record.size() && blank_byte(record[start])) ++start;
      parts_.push_back(record.substr(at, start - at));
      if (start == record.size()) return true;
      at = start;
      while (at < record.size() && !blank_byte(record[at])) ++at;
      parts_.push_back(record.substr(start, at - start));
    }
  }
  const std::string_view delimiter = syntax_.delimiter;
  parts_.emplace_back();
  for (std::size_t at = 0, fields = 0;; ++fields) {
    if (fields == fields_wanted_ && std::memchr(record.data() + at, '"', record.size() - at) == nullptr) {
      parts_.back() = fields == 0 ? record : record.substr(at - delimiter.size());  // the rest, and the delimiter before it
      return true;
    }
    std::size_t end = at;
    if (at < record.size() && record[at] == '"') {
      end = closing_quote(record, at + 1);
      if (end == std::string_view::npos) return false;
    }
    end = delimiter_at(record, end, delimiter);  // after a closing quote, the field goes on to the delimiter
    parts_.push_back(record.substr(at, end - at));
    if (end == record.size()) {
      parts_.emplace_back();
      return true;
    }
    parts_.push_back(record.substr(end, delimiter.size()));
    at = end + delimiter.size();
  }
}

// Before a field, or between fields of blanks.
void RecordReader::field_start() {
  if (!in_record_ && whole_record()) return;
  begin_record();
  const char c = bytes_[at_];
  if (c == syntax_.terminator) {
    end_record(bytes_.substr(at_++, 1));
    return;
  }
  if (c == '\r' && cr_ends_lines()) {
    if (at_ + 1 == bytes_.size()) {
      ++at_;
      cr_pending_ = true;
      return;
    }
    if (bytes_[at_ + 1] == '\n') {
      end_record(bytes_.substr(at_, 2));
      at_ += 2;
      return;
    }
  }
  if (blank(c)) {
    std::size_t end = at_;
    while (end < bytes_.size() && blank(bytes_[end])) ++end;
    push(RecordEvent::Kind::Between, bytes_.substr(at_, end - at_));
    at_ = end;
    return;
  }
  if (syntax_.split == RecordSyntax::Split::Delimiter) {
    if (c == '"') {
      open_field();
      state_ = State::Quoted;
      push(RecordEvent::Kind::FieldBytes, bytes_.substr(at_++, 1));
      return;
    }
    if (c == syntax_.delimiter[0]) {
      at_delimiter(at_);
      return;
    }
  }
  state_ = State::Unquoted;  // opened once it is known whether it ends in these bytes
}

// Within a field and outside quotes: up to a delimiter, a blank (between
// fields of blanks), the record's end or the end of the bytes. A field that
// begins and ends here is given whole.
void RecordReader::unquoted() {
  const std::size_t terminator = next_terminator();
  if (syntax_.split == RecordSyntax::Split::Delimiter) {
    const void* found = std::memchr(bytes_.data() + at_, syntax_.delimiter[0], terminator - at_);
    if (found != nullptr) {
      at_delimiter(static_cast<std::size_t>(static_cast<const char*>(found) - bytes_.data()));
      return;
    }
  } else if (syntax_.split == RecordSyntax::Split::Blanks) {
    std::size_t end = at_;
    while (end < terminator && !blank(bytes_[end])) ++end;
    if (end < terminator) {
      field_done(end);
      state_ = State::FieldStart;
      at_ = end;
      return;
    }
  }
  std::size_t end = terminator;
  if (terminator < bytes_.size()) {
    if (cr_ends_lines() && end > at_ && bytes_[end - 1] == '\r') --end;  // CR LF: the CR is the ending's
    field_done(end);
    record_done(bytes_.substr(end, terminator + 1 - end));
    at_ = terminator + 1;
    return;
  }
  if (cr_ends_lines() && end > at_ && bytes_[end - 1] == '\r') {  // a CR that the next bytes explain
    --end;
    cr_pending_ = true;
  }
  open_field();
  if (end > at_) push(RecordEvent::Kind::FieldBytes, bytes_.substr(at_, end - at_));
  at_ = bytes_.size();
}

// The field's bytes up to end are its last.
void RecordReader::field_done(std::size_t end) {
  if (in_field_) {
    if (end > at_) push(RecordEvent::Kind::FieldBytes, bytes_.substr(at_, end - at_));
    push(RecordEvent::Kind::FieldEnd);
    in_field_ = false;
  } else {
    push(RecordEvent::Kind::Field, bytes_.substr(at_, end - at_));
  }
}

// The first byte of the delimiter stands at where, the field's bytes before
// it: the delimiter, the start of one that the next bytes may finish, or a
// byte of the field.
void RecordReader::at_delimiter(std::size_t where) {
  const std::string_view delimiter = syntax_.delimiter;
  const std::size_t available = bytes_.size() - where;
  if (available >= delimiter.size() && bytes_.compare(where, delimiter.size(), delimiter) == 0) {
    field_done(where);
    push(RecordEvent::Kind::Between, bytes_.substr(where, delimiter.size()));
    state_ = State::FieldStart;
    at_ = where + delimiter.size();
    return;
  }
  open_field();
  if (where > at_) push(RecordEvent::Kind::FieldBytes, bytes_.substr(at_, where - at_));
  if (available < delimiter.size() && bytes_.compare(where, available, delimiter, 0, available) == 0) {
    delimiter_seen_ = available;
    at_ = bytes_.size();
    return;
  }
  state_ = State::Unquoted;
  push(RecordEvent::Kind::FieldBytes, bytes_.substr(where, 1));
  at_ = where + 1;
}

// Inside quotes: up to the next quote, line ends included.
void RecordReader::quoted() {
  const void* found = std::memchr(bytes_.data() + at_, '"', bytes_.size() - at_);
  const std::size_t end =
      found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - bytes_.data()) + 1 : bytes_.size();
  line_ += static_cast<uint64_t>(std::count(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                                            bytes_.begin() + static_cast<std::ptrdiff_t>(end), syntax_.terminator));
  push(RecordEvent::Kind::FieldBytes, bytes_.substr(at_, end - at_));
  at_ = end;
  if (found != nullptr) state_ = State::QuoteSeen;
}

// The record ends where no field is open but perhaps an empty one.
void RecordReader::end_record(std::string_view ending) {
  if (in_field_) {
    push(RecordEvent::Kind::FieldEnd);
  } else if (syntax_.split != RecordSyntax::Split::Blanks) {
    push(RecordEvent::Kind::Field);  // an empty record, or an empty field after the last delimiter
  }
  record_done(ending);
}

void RecordReader::record_done(std::string_view ending) {
  push(RecordEvent::Kind::RecordEnd, ending);
  if (!ending.empty()) ++line_;
  in_record_ = false;
  in_field_ = false;
  state_ = State::FieldStart;
}

// The input ended inside a record: it ends there, quotes open or not.
void RecordReader::close_input() {
  if (state_ == State::Quoted) push(RecordEvent::Kind::UnclosedQuote);
  end_record({});
}
