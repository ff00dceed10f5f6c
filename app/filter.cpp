// SPDX-License-Identifier: MIT
#include "app/filter.h"

#include <algorithm>
#include <cstring>

#include "runtime/core/decimal.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xef\xbb\xbf";
// Of a field too long to convert, the start kept for its message.
constexpr std::size_t kShownKept = 64;
// The header's output held while the columns it names are looked for; past
// this it goes out, and a missing name is found after it.
constexpr std::size_t kHeldOutputMax = std::size_t{1} << 20;
// What is looked up of a header field: a name is at most as long as the argument that gives it.
constexpr std::size_t kNameHeld = 4096;
// A row held until its end, so that its messages come after it.
constexpr std::size_t kRowHeld = 256 * 1024;
// Of a rejected value, what its message may show (it shows less).
constexpr std::size_t kRejectedKept = 64;

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
  if (text.size() > 18) return std::nullopt;
  const std::optional<int64_t> n = decimal_number(text, 0, 999999999999999999);
  if (!n) return std::nullopt;
  return static_cast<uint64_t>(*n);
}

// A quoted field's text between its quotes, "" read as one quote; nullopt
// when it is not one quoted run (a quote inside, bytes after the closing one).
std::optional<std::string> unquoted_text(std::string_view raw) {
  if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"') return std::nullopt;
  std::string text;
  for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
    if (raw[i] == '"') {
      if (i + 2 >= raw.size() || raw[i + 1] != '"') return std::nullopt;
      ++i;
    }
    text.push_back(raw[i]);
  }
  return text;
}

RecordSyntax syntax_for(const FilterOptions& options) {
  RecordSyntax syntax;
  syntax.terminator = options.terminator;
  if (!options.fields.empty()) {
    syntax.split = options.delimiter ? RecordSyntax::Split::Delimiter : RecordSyntax::Split::Blanks;
    syntax.delimiter = options.delimiter.value_or("");
  }
  return syntax;
}

}  // namespace

std::string_view trim_blanks(std::string_view text) { return trim(text).value; }

ValueError convert_written(std::string_view value, const ValueFormat& format, std::string* out) {
  if (!format.decimal_comma) return convert_value(value, format.conversion, out);
  if (value.size() > EXACT_VALUE_MAX) return ValueError::TooLong;
  if (value.find('.') != std::string_view::npos) return ValueError::NotANumber;  // 1.234 may mean a thousand
  char with_point[EXACT_VALUE_MAX];
  std::replace_copy(value.begin(), value.end(), with_point, ',', '.');
  const ValueError error = convert_value(std::string_view(with_point, value.size()), format.conversion, out);
  if (error == ValueError::None) std::replace(out->begin(), out->end(), '.', ',');
  return error;
}

// An item that begins with a quote runs to its closing quote ("" is a quote
// in it), commas and all: a column's name as CSV quotes it.
std::size_t item_end(std::string_view text, std::size_t start) {
  if (start < text.size() && text[start] == '"') {
    for (std::size_t at = start + 1; at < text.size(); ++at) {
      if (text[at] != '"') continue;
      if (at + 1 < text.size() && text[at + 1] == '"') {
        ++at;
        continue;
      }
      return std::min(text.find(',', at), text.size());
    }
  }
  return std::min(text.find(',', start), text.size());
}

std::optional<FieldList> FieldList::parse(std::string_view text) {
  FieldList list;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t comma = item_end(text, start);
    const std::string_view item = text.substr(start, comma - start);
    start = comma + 1;
    if (item.empty()) return std::nullopt;
    if (item.find_first_not_of("0123456789-") != std::string_view::npos) {  // a column's name, quoted or not
      const std::optional<std::string> unquoted = unquoted_text(item);
      list.names_.emplace_back(item);
      list.unquoted_.emplace_back(unquoted ? *unquoted : std::string());
      continue;
    }
    const std::size_t dash = item.find('-');
    std::optional<uint64_t> first, last;
    if (dash == std::string_view::npos) {
      first = last = whole_number(item);
    } else {
      if (item.size() == 1) return std::nullopt;  // "-" alone
      first = dash == 0 ? std::optional<uint64_t>(1) : whole_number(item.substr(0, dash));
      last = dash + 1 == item.size() ? std::optional<uint64_t>(UINT64_MAX) : whole_number(item.substr(dash + 1));
    }
    if (!first || !last || *first == 0 || *last < *first) return std::nullopt;
    list.ranges_.emplace_back(*first, *last);
  }
  list.merge();
  return list;
}

void FieldList::resolve(const std::vector<uint64_t>& fields) {
  for (const uint64_t field : fields) ranges_.emplace_back(field, field);
  names_.clear();
  unquoted_.clear();
  merge();
}

void FieldList::merge() {
  std::sort(ranges_.begin(), ranges_.end());
  std::vector<std::pair<uint64_t, uint64_t>> merged;
  for (const auto& range : ranges_) {
    if (!merged.empty() && (merged.back().second == UINT64_MAX || range.first <= merged.back().second + 1)) {
      merged.back().second = std::max(merged.back().second, range.second);
    } else {
      merged.push_back(range);
    }
  }
  ranges_ = std::move(merged);
}

void LineFilter::Held::add(std::string_view part, std::size_t keep) {
  if (bytes.size() < keep) bytes.append(part.substr(0, keep - bytes.size()));
  length += part.size();
}

LineFilter::LineFilter(const FilterOptions& options, FilterSink& sink)
    : options_(options), sink_(sink), reader_(syntax_for(options)), quoting_(options.delimiter.has_value()) {
  name_fields_.assign(options_.fields.names().size(), 0);
  unquoted_fields_ = name_fields_;
  names_pending_ = holding_output_ = !name_fields_.empty();
  if (names_pending_ && options_.header_records == 0) resolve_names();  // no header to name them
  tell_fields_wanted();
}

// The fields the next record is split into: in the header, none, or all of
// the last one when it names columns; after it, up to the last chosen.
void LineFilter::tell_fields_wanted() {
  if (in_header()) {
    reader_.set_fields_wanted(names_pending_ && record_ == options_.header_records ? UINT64_MAX : 0);
  } else {
    reader_.set_fields_wanted(options_.fields.last());
  }
}

void LineFilter::feed(std::string_view bytes) {
  if (options_.input_start && !bytes.empty() && !stopped_) take_byte_order_mark(&bytes);
  reader_.feed(bytes);
  for (RecordEvent event; !stopped_ && (event = reader_.next()).kind != RecordEvent::Kind::NeedMore;) handle(event);
  keep_views();
}

void LineFilter::finish() {
  if (options_.input_start && mark_matched_ != 0) {
    options_.input_start = false;
    feed(kByteOrderMark.substr(0, mark_matched_));  // the start of a mark, then the end: the record's own
  }
  reader_.finish();
  for (RecordEvent event; !stopped_ && (event = reader_.next()).kind != RecordEvent::Kind::NeedMore;) handle(event);
  if (names_pending_ && !stopped_) resolve_names();  // the input ended within the header
  record_done();
}

// A byte-order mark at the very start of the input: copied as it came where
// bytes are copied (fields chosen, or a header), dropped where each line is
// one value; never part of the first value or the first column's name.
// What began like one and was not is the record's own.
void LineFilter::take_byte_order_mark(std::string_view* bytes) {
  while (mark_matched_ < kByteOrderMark.size() && !bytes->empty() && bytes->front() == kByteOrderMark[mark_matched_]) {
    ++mark_matched_;
    bytes->remove_prefix(1);
  }
  if (mark_matched_ == kByteOrderMark.size()) {
    options_.input_start = false;
    if (options_.header_records != 0 || !options_.fields.empty()) put(kByteOrderMark);
    return;
  }
  if (bytes->empty()) return;  // it may go on in the next bytes
  options_.input_start = false;
  if (mark_matched_ != 0) feed(kByteOrderMark.substr(0, mark_matched_));
}

void LineFilter::handle(const RecordEvent& event) {
  switch (event.kind) {
    case RecordEvent::Kind::Record: whole_record(event.ending); break;
    case RecordEvent::Kind::Field: whole_field(event.bytes); break;
    case RecordEvent::Kind::FieldBegin: field_begin(); break;
    case RecordEvent::Kind::FieldBytes: field_bytes(event.bytes); break;
    case RecordEvent::Kind::FieldEnd: field_end(); break;
    case RecordEvent::Kind::Between: copy(event.bytes); break;
    case RecordEvent::Kind::RecordEnd: record_end(event.bytes); break;
    case RecordEvent::Kind::UnclosedQuote: unclosed_ = true; break;
    case RecordEvent::Kind::NeedMore: break;
  }
}

// A record that came whole: its fields one after another, the bytes
// between them copied.
void LineFilter::whole_record(std::string_view ending) {
  const std::vector<std::string_view>& parts = reader_.record_parts();
  copy(parts[0]);
  for (std::size_t i = 1; i + 1 < parts.size() && !stopped_; i += 2) {
    whole_field(parts[i]);
    if (!stopped_) copy(parts[i + 1]);
  }
  if (!stopped_) record_end(ending);
}

void LineFilter::whole_field(std::string_view bytes) {
  field_begin();
  if (!chosen_) {
    copy(bytes);
    return;
  }
  field_bytes(bytes);
  if (!stopped_) field_end();
}

// The next field begins. Chosen: it is converted, or its text may be a
// name in the header; the others are copied.
void LineFilter::field_begin() {
  ++field_;
  if (in_header()) {
    chosen_ = names_pending_ && record_ == options_.header_records;
  } else {
    chosen_ = options_.fields.empty() || options_.fields.contains(field_, &cursor_);
  }
  if (!chosen_) return;
  overflowed_ = unclosed_ = false;
  view_ = {};
  held_.clear();
  value_.clear();
  blanks_.clear();
}

void LineFilter::field_bytes(std::string_view bytes) {
  if (in_header()) {
    copy(bytes);
    header_field_bytes(bytes);
  } else if (options_.fields.empty()) {
    plain_bytes(bytes);
  } else if (!chosen_ || overflowed_) {
    copy(bytes);
  } else {
    chosen_bytes(bytes);
  }
}

void LineFilter::field_end() {
  if (in_header()) {
    header_field_end();
    return;
  }
  if (options_.fields.empty()) return;  // converted at the record's end, where its row ends
  if (!chosen_) {
    if (unclosed_) reject(field_, {}, false, ValueError::UnclosedQuote);
    return;
  }
  if (overflowed_) {
    reject(field_, trim(held_.bytes).value, true, unclosed_ ? ValueError::UnclosedQuote : ValueError::TooLong);
    return;
  }
  const bool in_input = !view_.empty() || held_.length == 0;
  const std::string raw_held = in_input ? std::string() : std::move(held_.bytes);
  const std::string_view raw = in_input ? view_ : std::string_view(raw_held);
  view_ = {};
  held_.clear();
  if (unclosed_) {
    if (options_.invalid != Invalid::Abort) in_input ? copy(raw) : put(raw);
    reject(field_, {}, false, ValueError::UnclosedQuote);
    return;
  }
  convert_field(raw, in_input);
}

// A chosen field whole: its value converted in place, quotes and blanks
// around it kept; or, when it is no value, left as written.
void LineFilter::convert_field(std::string_view raw, bool in_input) {
  auto unchanged = [&](std::string_view bytes) { in_input ? copy(bytes) : put(bytes); };
  std::size_t quote = 0;
  std::string_view text = raw;
  ValueError error = ValueError::None;
  if (quoting_ && !raw.empty() && raw.front() == '"') {
    quote = 1;
    text = raw.size() >= 2 && raw.back() == '"' ? raw.substr(1, raw.size() - 2) : raw.substr(1);
    // Text in quotes is converted only when it is all one value: no quote inside, none after.
    if (text.size() + 2 != raw.size() || text.find('"') != std::string_view::npos) error = ValueError::NotANumber;
  }
  const Trimmed parts = trim(text);
  if (error == ValueError::None) {
    if (parts.value.empty()) {  // an empty field stays empty
      unchanged(raw);
      return;
    }
    error = convert_written(parts.value, options_.format, &result_);
  }
  if (error != ValueError::None) {
    if (options_.invalid != Invalid::Abort) unchanged(raw);
    reject(field_, quote != 0 && text.size() + 2 != raw.size() ? raw : parts.value, false, error);
    return;
  }
  const std::size_t value_at = quote + parts.before.size();
  unchanged(raw.substr(0, value_at));
  put(result_);
  unchanged(raw.substr(value_at + parts.value.size()));
}

// More of a chosen field: looked at where it stands while it follows on in
// the bytes fed, held when it does not; too long, it goes out as it came.
void LineFilter::chosen_bytes(std::string_view bytes) {
  if (held_.length == 0 && (view_.empty() || bytes.data() == view_.data() + view_.size())) {
    view_ = view_.empty() ? bytes : std::string_view(view_.data(), view_.size() + bytes.size());
    if (view_.size() > kFieldHeld) overflow({});
    return;
  }
  if (!view_.empty()) {
    held_.add(view_, kFieldHeld);
    view_ = {};
  }
  if (held_.length + bytes.size() > kFieldHeld) {
    overflow(bytes);
    return;
  }
  held_.add(bytes, kFieldHeld);
}

// The field is too long to be a value: what came of it (looked at where it
// stands, or held) and more go out now, only its start kept for the message.
void LineFilter::overflow(std::string_view more) {
  const std::string_view came = !view_.empty() ? view_ : std::string_view(held_.bytes);
  std::string shown(came.substr(0, kShownKept));
  if (shown.size() < kShownKept) shown.append(more.substr(0, kShownKept - shown.size()));
  if (options_.invalid == Invalid::Abort) {
    reject(field_, trim(shown).value, true, ValueError::TooLong);
    return;
  }
  if (!view_.empty()) {
    copy(view_);
  } else {
    put(held_.bytes);
  }
  copy(more);
  view_ = {};
  held_.clear();
  held_.bytes = std::move(shown);
  overflowed_ = true;
}

// One value per record: blanks before it are dropped, blanks after it kept
// aside until more of it follows. The usual record, whole in the bytes fed,
// is looked at where it stands.
void LineFilter::plain_bytes(std::string_view bytes) {
  if (value_.length == 0 && blanks_.length == 0 && (view_.empty() || bytes.data() == view_.data() + view_.size())) {
    view_ = view_.empty() ? bytes : std::string_view(view_.data(), view_.size() + bytes.size());
    if (view_.size() <= kFieldHeld) return;
    bytes = view_;  // too long to be a value: only its start is kept
    view_ = {};
  } else if (!view_.empty()) {
    hold_plain(view_);
    view_ = {};
  }
  hold_plain(bytes);
}

void LineFilter::hold_plain(std::string_view bytes) {
  constexpr std::size_t kKeep = EXACT_VALUE_MAX + 1;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t run_end = blank(bytes[at]) ? first_not_blank(bytes, at) : first_blank(bytes, at);
    const std::string_view run = bytes.substr(at, run_end - at);
    if (blank(run[0])) {
      if (value_.length != 0) blanks_.add(run, kKeep);
    } else {
      if (blanks_.length != 0) {
        value_.add(blanks_.bytes, kKeep);
        value_.length += blanks_.length - blanks_.bytes.size();  // blanks not kept count too
        blanks_.clear();
      }
      value_.add(run, kKeep);
    }
    at = run_end;
  }
}

// The record's value converted: its row (the result and the ending as it
// came), then its message.
void LineFilter::plain_record_end(std::string_view ending) {
  std::string_view value = trim(view_).value;
  bool too_long = value.size() > EXACT_VALUE_MAX;
  if (view_.empty()) {
    value = value_.bytes;
    too_long = value_.length > EXACT_VALUE_MAX;
  }
  const ValueError error = too_long ? ValueError::TooLong : convert_written(value, options_.format, &result_);
  if (error != ValueError::None && options_.invalid == Invalid::Abort) {
    reject(0, value, too_long, error);
    return;
  }
  if (error == ValueError::None) put(result_);
  end_row(ending);
  if (error != ValueError::None) reject(0, value, too_long, error);
  view_ = {};
  value_.clear();
  blanks_.clear();
}

void LineFilter::record_end(std::string_view ending) {
  if (!in_header() && options_.fields.empty()) {
    plain_record_end(ending);
  } else {
    end_row(ending);
    if (names_pending_ && record_ == options_.header_records) resolve_names();
  }
  record_done();
  ++record_;
  field_ = 0;
  cursor_ = {};
  if (record_ <= options_.header_records + 1) tell_fields_wanted();
}

// A row ends as its record did; the last one, without its line end (or with
// a CR alone), gets one, as cut and numfmt give it, unless it ends in one
// already (a quoted field that ran to the end).
void LineFilter::end_row(std::string_view ending) {
  copy(ending);
  if (!ending.empty() && ending.back() == options_.terminator) return;
  write_out();
  if (row_last_byte_ != options_.terminator) put(std::string_view(&options_.terminator, 1));
}

// The row, then the messages about it.
void LineFilter::record_done() {
  write_out();
  if (!row_.empty()) sink_.output(row_);
  row_.clear();
  row_spilled_ = false;
  row_last_byte_ = -1;
  row_bytes_ = 0;
  tell_rejections();
}

void LineFilter::tell_rejections() {
  for (const Rejection& r : rejections_) sink_.rejected(r.line, r.field, r.value, r.cut, r.error);
  rejections_.clear();
}

// The last header record: the fields whose text is a name --field gives.
void LineFilter::header_field_bytes(std::string_view bytes) {
  if (names_pending_ && record_ == options_.header_records) held_.add(bytes, kNameHeld * 2 + 2);
}

void LineFilter::header_field_end() {
  if (!names_pending_ || record_ != options_.header_records || held_.length > kNameHeld * 2 + 2) return;
  const std::optional<std::string> quoted = quoting_ ? unquoted_text(held_.bytes) : std::nullopt;
  const std::string_view text = quoted ? std::string_view(*quoted) : std::string_view(held_.bytes);
  const std::vector<std::string>& names = options_.fields.names();
  const std::vector<std::string>& unquoted = options_.fields.unquoted_names();
  auto found = [this](uint64_t* at) { *at = *at == 0 ? field_ : UINT64_MAX; };  // UINT64_MAX: twice
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == text) found(&name_fields_[i]);
    if (!unquoted[i].empty() && unquoted[i] == text) found(&unquoted_fields_[i]);
  }
}

void LineFilter::resolve_names() {
  names_pending_ = false;
  const std::vector<std::string>& names = options_.fields.names();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (name_fields_[i] == 0) name_fields_[i] = unquoted_fields_[i];  // a quoted name, as the header reads it
    if (name_fields_[i] != 0 && name_fields_[i] != UINT64_MAX) continue;
    write_out();  // a header too long to hold has gone out already: the rest of it follows
    sink_.column_unknown(names[i], name_fields_[i] == UINT64_MAX);
    column_unknown_ = stopped_ = true;
    held_output_.clear();
    holding_output_ = false;
    return;
  }
  options_.fields.resolve(name_fields_);
  write_out();
  holding_output_ = false;
  std::string held;
  held.swap(held_output_);
  emit(held);
}

// The bytes fed are about to go: what is looked at where it stands is kept.
void LineFilter::keep_views() {
  if (!view_.empty()) {
    const std::string_view view = view_;
    view_ = {};
    if (options_.fields.empty()) {
      hold_plain(view);
    } else {
      held_.add(view, kFieldHeld);
    }
  }
  write_out();
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
  emit(bytes);
}

void LineFilter::write_out() {
  const std::string_view bytes = unwritten_;
  unwritten_ = {};
  emit(bytes);
}

void LineFilter::emit(std::string_view bytes) {
  if (bytes.empty()) return;
  row_last_byte_ = static_cast<int>(static_cast<unsigned char>(bytes.back()));
  row_bytes_ += bytes.size();
  if (!holding_output_ && !in_header() && options_.invalid != Invalid::Ignore && !row_spilled_) {
    row_.append(bytes);
    if (row_.size() > kRowHeld) {  // too long to hold: out it goes
      row_spilled_ = true;
      sink_.output(row_);
      std::string().swap(row_);
    }
    return;
  }
  if (!holding_output_) {
    sink_.output(bytes);
    return;
  }
  held_output_.append(bytes);
  if (held_output_.size() > kHeldOutputMax) {  // too much to hold: out it goes
    holding_output_ = false;
    sink_.output(held_output_);
    std::string().swap(held_output_);
  }
}

// A message about a value comes after its row; with --invalid=abort the
// output ends with the rows before it. A row too long to hold has gone out
// as far as it came, and the message follows that. Which it is follows from
// the bytes of the row so far, whatever the reads were.
void LineFilter::reject(uint64_t field, std::string_view value, bool cut, ValueError error) {
  if (options_.invalid == Invalid::Fail || options_.invalid == Invalid::Abort) failed_ = true;
  if (options_.invalid == Invalid::Ignore) return;
  const bool shortened = value.size() > kRejectedKept;
  rejections_.push_back({reader_.record_line(), field, std::string(value.substr(0, kRejectedKept)), cut || shortened, error});
  write_out();
  const bool too_long = row_bytes_ > kRowHeld;
  if (options_.invalid == Invalid::Abort) {
    if (!too_long) row_.clear();
    stopped_ = true;
  }
  if (too_long || stopped_) {
    if (!row_.empty()) sink_.output(row_);
    row_.clear();
    tell_rejections();
  }
}
