// SPDX-License-Identifier: MIT
#include "app/filter.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::string_view kByteOrderMark = "\xef\xbb\xbf";

bool blank(char c) { return c == ' ' || c == '\t'; }

std::size_t first_blank(std::string_view text, std::size_t from) {
  while (from < text.size() && !blank(text[from])) ++from;
  return from;
}
std::size_t first_not_blank(std::string_view text, std::size_t from) {
  while (from < text.size() && blank(text[from])) ++from;
  return from;
}

// The parts of a field: blanks before, the value, blanks after.
struct Trimmed {
  std::string_view before, value, after;
};
Trimmed trim(std::string_view text) {
  const std::size_t start = first_not_blank(text, 0);
  std::size_t end = text.size();
  while (end > start && blank(text[end - 1])) --end;
  return {text.substr(0, start), text.substr(start, end - start), text.substr(end)};
}

std::optional<uint64_t> whole_number(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  uint64_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  return n;
}

}  // namespace

std::optional<FieldList> FieldList::parse(std::string_view text) {
  FieldList list;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    const std::string_view item = text.substr(start, comma - start);
    const std::size_t dash = item.find('-');
    std::optional<uint64_t> first, last;
    if (dash == std::string_view::npos) {
      first = last = whole_number(item);
    } else {
      first = dash == 0 ? std::optional<uint64_t>(1) : whole_number(item.substr(0, dash));
      last = dash + 1 == item.size() ? std::optional<uint64_t>(UINT64_MAX) : whole_number(item.substr(dash + 1));
      if (dash == 0 && dash + 1 == item.size()) return std::nullopt;  // "-" alone
    }
    if (!first || !last || *first == 0 || *last < *first) return std::nullopt;
    list.ranges_.emplace_back(*first, *last);
    for (uint64_t field = *first; field < 64 && field <= *last; ++field) list.first_fields_ |= uint64_t{1} << field;
    start = comma + 1;
  }
  return list;
}

bool FieldList::contained_in_ranges(uint64_t field) const {
  return std::any_of(ranges_.begin(), ranges_.end(), [&](const auto& r) { return field >= r.first && field <= r.second; });
}

void LineFilter::Held::add(std::string_view part) {
  if (bytes.size() < kHeld) bytes.append(part.substr(0, kHeld - bytes.size()));
  length += part.size();
}

// A byte-order mark at the very start of the input: dropped, or copied with
// the header. Returns how many bytes of it these are.
std::size_t LineFilter::take_byte_order_mark(std::string_view bytes) {
  std::size_t taken = 0;
  while (mark_matched_ < kByteOrderMark.size() && taken < bytes.size() && bytes[taken] == kByteOrderMark[mark_matched_]) {
    ++mark_matched_;
    ++taken;
  }
  if (mark_matched_ == kByteOrderMark.size()) {
    options_.input_start = false;
    if (options_.header_lines != 0) put(kByteOrderMark);
    return taken;
  }
  if (taken == bytes.size()) return taken;  // it may go on in the next bytes
  // Not a mark: what matched of it is the line's own.
  options_.input_start = false;
  content(kByteOrderMark.substr(0, mark_matched_));
  return taken;
}

void LineFilter::feed(std::string_view bytes) {
  if (options_.input_start && !bytes.empty()) bytes.remove_prefix(take_byte_order_mark(bytes));
  if (cr_pending_ && !bytes.empty()) {
    cr_pending_ = false;
    if (bytes[0] == '\n') {
      bytes.remove_prefix(1);
      line_end("\r\n");
    } else {
      content("\r");
    }
  }
  while (!bytes.empty()) {
    const void* found = std::memchr(bytes.data(), '\n', bytes.size());
    const std::size_t end = found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - bytes.data())
                                             : bytes.size();
    // A CR before the line feed belongs to the line end; one that ends the bytes waits for the next.
    const bool ends_in_cr = end != 0 && bytes[end - 1] == '\r';
    content(bytes.substr(0, ends_in_cr ? end - 1 : end));
    if (found == nullptr) {
      cr_pending_ = ends_in_cr;
      break;
    }
    line_end(bytes.substr(ends_in_cr ? end - 1 : end, ends_in_cr ? 2 : 1));  // the line end as it came
    bytes.remove_prefix(end + 1);
  }
  // What was looked at where it stood must be kept: its line goes on in later bytes.
  keep_whole();
  if (!field_view_.empty()) {
    const std::string_view view = field_view_;
    field_view_ = {};
    hold_field(view);
  }
  write_out();
}

void LineFilter::keep_whole() {
  const std::string_view whole = whole_;
  whole_ = {};
  if (!whole.empty()) hold_plain(whole);
}

void LineFilter::finish() {
  if (options_.input_start && mark_matched_ != 0 && mark_matched_ < kByteOrderMark.size()) {
    options_.input_start = false;
    content(kByteOrderMark.substr(0, mark_matched_));
  }
  if (cr_pending_) {
    cr_pending_ = false;
    content("\r");
  }
  if (line_begun_) line_end({});
  write_out();
}

void LineFilter::content(std::string_view bytes) {
  if (bytes.empty()) return;
  line_begun_ = true;
  if (in_header()) {
    copy(bytes);
  } else if (options_.fields.empty()) {
    plain_content(bytes);
  } else {
    field_content(bytes);
  }
}

// One value per line: blanks before it are dropped, blanks after it kept
// aside until more of it follows.
void LineFilter::plain_content(std::string_view bytes) {
  if (whole_.empty() && value_.length == 0 && blanks_.length == 0) {
    whole_ = bytes;  // the usual line, whole in these bytes: looked at where it stands
    return;
  }
  keep_whole();
  hold_plain(bytes);
}

void LineFilter::hold_plain(std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t run_end = blank(bytes[at]) ? first_not_blank(bytes, at) : first_blank(bytes, at);
    const std::string_view run = bytes.substr(at, run_end - at);
    if (blank(run[0])) {
      if (value_.length != 0) blanks_.add(run);
    } else {
      if (blanks_.length != 0) {
        value_.add(blanks_.bytes);
        value_.length += blanks_.length - blanks_.bytes.size();  // blanks not held count too
        blanks_.clear();
      }
      value_.add(run);
    }
    at = run_end;
  }
}

void LineFilter::field_content(std::string_view bytes) {
  const bool delimited = options_.delimiter.has_value();
  for (std::size_t at = 0; at < bytes.size();) {
    if (!in_field_) {
      std::size_t start = at;
      if (!delimited) {  // the blanks before a field are copied
        start = first_not_blank(bytes, at);
        if (start != at) copy(bytes.substr(at, start - at));
        if (start == bytes.size()) return;
      }
      start_field();
      at = start;
    }
    std::size_t end = bytes.size();
    if (delimited) {
      const void* found = std::memchr(bytes.data() + at, *options_.delimiter, bytes.size() - at);
      if (found != nullptr) end = static_cast<std::size_t>(static_cast<const char*>(found) - bytes.data());
    } else {
      end = first_blank(bytes, at);
    }
    const std::string_view part = bytes.substr(at, end - at);
    if (!chosen_ || overflowed_) {
      copy(part);
    } else if (field_bytes_.length == 0 && field_view_.empty()) {
      field_view_ = part;  // the usual field, whole in these bytes: looked at where it stands
    } else {
      hold_field(part);
    }
    if (end == bytes.size()) return;
    end_field();
    if (delimited) copy(bytes.substr(end, 1));
    at = delimited ? end + 1 : end;
  }
}

void LineFilter::start_field() {
  ++field_;
  in_field_ = true;
  chosen_ = options_.fields.contains(field_);
  overflowed_ = false;
  field_bytes_.clear();
  field_view_ = {};
}

// More of a chosen field than one piece: held, and once too long, left as
// written: what is held goes out, and the rest as it comes.
void LineFilter::hold_field(std::string_view part) {
  if (!field_view_.empty()) {
    const std::string_view view = field_view_;
    field_view_ = {};
    hold_field(view);
  }
  field_bytes_.add(part);
  if (field_bytes_.too_long() && !overflowed_) {
    put(field_bytes_.bytes);
    overflowed_ = true;
  }
}

void LineFilter::end_field() {
  in_field_ = false;
  if (!chosen_) return;
  if (overflowed_) {
    reject(field_, field_bytes_.bytes, true, ValueError::TooLong);
    return;
  }
  const bool in_input = !field_view_.empty();
  const std::string_view field = in_input ? field_view_ : std::string_view(field_bytes_.bytes);
  field_view_ = {};
  auto unchanged = [&](std::string_view bytes) { in_input ? copy(bytes) : put(bytes); };
  const Trimmed parts = trim(field);
  if (parts.value.empty()) {  // an empty field stays empty
    unchanged(field);
    return;
  }
  const ValueError error = convert_value(parts.value, options_.conversion.from, options_.conversion.to,
                                         options_.conversion.precision, &result_);
  if (error != ValueError::None) {  // left as written
    unchanged(field);
    reject(field_, parts.value, false, error);
    return;
  }
  unchanged(parts.before);
  put(result_);
  unchanged(parts.after);
}

void LineFilter::copy(std::string_view bytes) {
  if (bytes.empty()) return;
  if (bytes.data() == unwritten_.data() + unwritten_.size()) {  // what follows it in the input: one copy
    unwritten_ = std::string_view(unwritten_.data(), unwritten_.size() + bytes.size());
    return;
  }
  write_out();
  unwritten_ = bytes;
}

void LineFilter::put(std::string_view bytes) {
  write_out();
  if (!bytes.empty()) sink_.output(bytes);
}

void LineFilter::write_out() {
  if (!unwritten_.empty()) sink_.output(unwritten_);
  unwritten_ = {};
}

void LineFilter::reject(uint64_t field, std::string_view value, bool cut, ValueError error) {
  write_out();  // the results before it go first
  all_converted_ = false;
  sink_.rejected(line_, field, value, cut, error);
}

void LineFilter::convert_held(std::string_view value, uint64_t field) {
  const ValueError error = convert_value(value, options_.conversion.from, options_.conversion.to,
                                         options_.conversion.precision, &result_);
  if (error == ValueError::None) {
    result_.push_back('\n');
    put(result_);
    return;
  }
  put("\n");  // an empty row keeps the rows aligned
  reject(field, value, false, error);
}

void LineFilter::line_end(std::string_view ending) {
  if (in_header()) {
    copy(ending);
  } else if (options_.fields.empty()) {
    if (!whole_.empty() || (value_.length == 0 && blanks_.length == 0)) {
      const std::string_view value = trim(whole_).value;
      if (value.size() > EXACT_VALUE_MAX) {
        put("\n");
        reject(0, value, true, ValueError::TooLong);
      } else {
        convert_held(value, 0);
      }
    } else if (value_.too_long()) {
      put("\n");
      reject(0, value_.bytes, true, ValueError::TooLong);
    } else {
      convert_held(value_.bytes, 0);
    }
    whole_ = {};
    value_.clear();
    blanks_.clear();
  } else {
    if (options_.delimiter && !in_field_ && field_ == 0) start_field();  // an empty line is one empty field
    if (in_field_) end_field();
    copy(ending);
  }
  ++line_;
  line_begun_ = false;
  field_ = 0;
  in_field_ = false;
}
