// SPDX-License-Identifier: MIT
#include "runtime/term/decoder.h"

#include <algorithm>

#include "runtime/term/term.h"

namespace {

constexpr uint8_t ESC = 27;
constexpr uint8_t BEL = 7;
// No key or reply is longer: a sequence that runs on past this is thrown
// away as it comes, however long it goes on (a terminal gone wrong).
constexpr std::size_t kLongestSequence = 256;

DecodedUnit ignored(std::size_t length) { return {Unit::Ignored, -1, 0, 0, length}; }
// A key, or nothing for a code of -1 (an Alt combination without a key).
DecodedUnit key(int32_t code, std::size_t length) {
  return code >= 0 ? DecodedUnit{Unit::Key, code, 0, 0, length} : ignored(length);
}
constexpr DecodedUnit kIncomplete{Unit::Incomplete, -1, 0, 0, 0};

bool graphic(uint8_t b) { return b >= 0x20 && b <= 0x7E; }
// ESC ] (OSC), ESC P (DCS), ESC X (SOS), ESC ^ (PM) and ESC _ (APC) begin a control string.
bool string_introducer(uint8_t b) { return b == ']' || b == 'P' || b == 'X' || b == '^' || b == '_'; }

// Reads "n;m" (or "8;n;m" for the size report) from the parameters of a CSI sequence.
bool parse_numbers(const uint8_t* p, const uint8_t* end, int32_t* values, int count) {
  for (int i = 0; i < count; ++i) {
    if (p == end || *p < '0' || *p > '9') return false;
    int64_t n = 0;
    while (p < end && *p >= '0' && *p <= '9') n = std::min<int64_t>(n * 10 + (*p++ - '0'), 1 << 24);
    values[i] = static_cast<int32_t>(n);
    if (i + 1 < count && (p == end || *p++ != ';')) return false;
  }
  return p == end;
}

// A whole CSI sequence of the given length that is a cursor report
// (ESC [ row ; column R) or a size report (ESC [ 8 ; rows ; columns t).
DecodedUnit report_in(const uint8_t* bytes, std::size_t length) {
  const uint8_t* parameters = bytes + 2;
  const uint8_t* end = bytes + length - 1;
  int32_t values[3] = {0, 0, 0};
  if (bytes[length - 1] == 'R' && parse_numbers(parameters, end, values, 2))
    return {Unit::CursorReport, -1, values[0], values[1], length};
  if (bytes[length - 1] == 't' && parse_numbers(parameters, end, values, 3) && values[0] == 8)
    return {Unit::SizeReport, -1, values[1], values[2], length};
  return ignored(length);
}

// The extent of a CSI sequence: its length when whole, 0 while it may go on,
// or the length before a byte that cannot belong to it (cut off: that byte
// begins the next key).
struct Extent {
  std::size_t length;
  bool whole;
};
Extent csi_extent(const uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 2; i < count; ++i) {
    if (csi_final(bytes[i])) return {i + 1, true};
    if (!csi_parameter_or_intermediate(bytes[i])) return {i, false};
  }
  return {0, false};
}

// A control string from the terminal (a title report, a hostile OSC): skipped
// up to BEL or ST (ESC \). An ESC followed by anything else ends it there, and
// begins the next key.
DecodedUnit control_string(const uint8_t* bytes, std::size_t count, bool complete) {
  for (std::size_t i = 2; i < count; ++i) {
    if (bytes[i] == BEL) return ignored(i + 1);
    if (bytes[i] != ESC) continue;
    if (i + 1 == count) break;
    return ignored(bytes[i + 1] == '\\' ? i + 2 : i);
  }
  return complete ? ignored(count) : kIncomplete;
}

// An unrecognised sequence after ESC, skipped by its ECMA-48 syntax.
DecodedUnit skip_by_syntax(const uint8_t* bytes, std::size_t count, bool complete) {
  if (bytes[1] == '[') {
    const Extent extent = csi_extent(bytes, count);
    if (extent.length == 0) return complete ? ignored(count) : kIncomplete;
    return extent.whole ? report_in(bytes, extent.length) : ignored(extent.length);
  }
  if (bytes[1] == 'O') {
    if (count < 3) return complete ? ignored(count) : kIncomplete;
    return ignored(graphic(bytes[2]) ? 3 : 2);
  }
  if (string_introducer(bytes[1])) return control_string(bytes, count, complete);
  return key(alt_key(bytes[1]), 2);  // ESC and one byte: Alt with it
}

// A sequence after ESC: the tree first, then the syntax. Cursor and size
// reports come before the tree, so that no key string can hide one.
DecodedUnit decode_sequence(const uint8_t* bytes, std::size_t count, bool complete, const KeyNode* tree) {
  if (bytes[1] == '[') {
    const Extent extent = csi_extent(bytes, count);
    if (extent.whole) {
      const DecodedUnit report = report_in(bytes, extent.length);
      if (report.kind != Unit::Ignored) return report;
    }
  }
  if (string_introducer(bytes[1])) return control_string(bytes, count, complete);
  const KeyNode* level = tree;
  for (std::size_t i = 1;; ++i) {
    if (i == count) return complete ? skip_by_syntax(bytes, count, true) : kIncomplete;
    const KeyNode* node = find_in_level(level, bytes[i]);
    if (node == nullptr) return skip_by_syntax(bytes, count, complete);
    if (node->key_code == KEY_MOUSE_REPORT) {  // button and position bytes follow
      if (count >= i + 4) return ignored(i + 4);
      return complete ? ignored(count) : kIncomplete;
    }
    // Decoding stops at the first node with a key, even where longer sequences go on.
    if (node->key_code != 0) return key(node->key_code, i + 1);
    if (node->first_child == nullptr) return skip_by_syntax(bytes, count, complete);  // a row left out
    level = node->first_child;
  }
}

}  // namespace

DecodedUnit decode_unit(const uint8_t* bytes, std::size_t count, bool complete, const KeyGrammar& grammar) {
  if (count == 0) return kIncomplete;
  if (bytes[0] != ESC) {
    if (grammar.eight_bit_meta && bytes[0] >= 0x80) return key(alt_key(bytes[0] & 0x7F), 1);
    return key(bytes[0], 1);
  }
  if (count == 1) return complete ? key(KEY_ESCAPE, 1) : kIncomplete;
  if (bytes[1] == ESC) {
    // ESC before a whole sequence: that key with Alt. Otherwise the first ESC
    // is the Escape key by itself, and the second begins what follows.
    if (count == 2) return complete ? key(KEY_ESCAPE, 1) : kIncomplete;
    if (bytes[2] != '[' && bytes[2] != 'O') return key(KEY_ESCAPE, 1);
    const DecodedUnit inner = decode_sequence(bytes + 1, count - 1, complete, grammar.tree);
    if (inner.kind == Unit::Incomplete) return inner;
    if (inner.kind == Unit::Key) return key(alt_key(inner.key), inner.length + 1);
    if (inner.kind == Unit::Ignored) return ignored(inner.length + 1);
    return key(KEY_ESCAPE, 1);  // Escape, then a reply
  }
  return decode_sequence(bytes, count, complete, grammar.tree);
}

// --- The decoder over time ------------------------------------------------------

void KeyDecoder::clear() {
  bytes_.clear();
  breaks_.clear();
  next_ = scanned_ = 0;
  discarding_ = Discard::None;
  escape_acted_ = retracting_ = undo_queued_ = false;
  queued_ = {};
  reply_deadline_ms_ = 0;
  link_delay_ms_ = 0;
  ended_ = false;
  line_ends_ = 0;
}

bool KeyDecoder::escapes_only(std::size_t at) const {
  const std::size_t count = bytes_.size() - at;
  return bytes_[at] == ESC && (count == 1 || (count == 2 && bytes_[at + 1] == ESC));
}

void KeyDecoder::observe_link_delay(int64_t ms) {
  link_delay_ms_ = std::max(link_delay_ms_, std::min<int64_t>(ms, timing_.sequence_limit_ms));
}

int64_t KeyDecoder::escape_wait_ms() const {
  constexpr int64_t kMargin = 50;  // the pieces of one key come within this of each other, late or not
  if (link_delay_ms_ == 0) return timing_.escape_delay_ms;
  return std::max<int64_t>(timing_.escape_delay_ms, std::min<int64_t>(link_delay_ms_ + kMargin, timing_.sequence_limit_ms));
}

// A lone ESC (or ESC ESC) waits the escape delay or what the link has shown,
// and while a reply is awaited until its deadline; anything longer waits the
// sequence limit.
int64_t KeyDecoder::wait_end(std::size_t at) const {
  if (escapes_only(at)) return std::max(last_arrival_ms_ + escape_wait_ms(), reply_deadline_ms_);
  return last_arrival_ms_ + std::max(timing_.escape_delay_ms, timing_.sequence_limit_ms);
}

int64_t KeyDecoder::deadline() const {
  if (next_ >= bytes_.size() || ended_) return kNoDeadline;
  return wait_end(next_);
}

void KeyDecoder::compact() {
  if (next_ == bytes_.size()) {
    bytes_.clear();
    breaks_.clear();
    next_ = scanned_ = 0;
  } else if (next_ > 4096 && next_ > bytes_.size() / 2) {
    const std::size_t dropped = next_;
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(dropped));
    for (std::size_t& at : breaks_) at -= dropped;
    scanned_ -= std::min(scanned_, dropped);
    next_ = 0;
  }
}

void KeyDecoder::feed(const uint8_t* bytes, std::size_t count, int64_t now) {
  if (count == 0) return;
  compact();
  const std::size_t tail = unfinished_tail();
  const bool pending = next_ < bytes_.size();
  // What waited for these bytes longer than its limit is decided as it
  // stands: they cannot join it. A lone ESC may still begin a CSI or SS3
  // sequence whose next byte stalled on the way, within the sequence limit.
  const bool continues_escape = (bytes[0] == '[' || bytes[0] == 'O') && tail + 1 == bytes_.size() &&
                                bytes_[tail] == ESC && now - last_arrival_ms_ < timing_.sequence_limit_ms;
  const bool decided = tail >= bytes_.size() || now >= wait_end(tail);
  if (tail < bytes_.size() && !continues_escape && decided && (breaks_.empty() || breaks_.back() != bytes_.size())) {
    breaks_.push_back(bytes_.size());
  }
  // A sequence that came in pieces tells how late the link brings them (a
  // lone ESC only when what follows begins a sequence: a person types Alt keys).
  const bool begins_sequence = bytes[0] == '[' || bytes[0] == 'O' || string_introducer(bytes[0]);
  if (tail < bytes_.size() && (continues_escape || !decided) && (!escapes_only(tail) || begins_sequence)) {
    observe_link_delay(now - last_arrival_ms_);
  }
  // An overlong sequence ends when the terminal stops sending it.
  if (discarding_ != Discard::None && now - last_arrival_ms_ >= timing_.sequence_limit_ms) discarding_ = Discard::None;
  // What may be the rest of a sequence whose ESC was taken for the Escape
  // key: the ESC is put back, to be taken back if they make a sequence.
  if (escape_acted_ && !pending && (bytes[0] == '[' || bytes[0] == 'O' || string_introducer(bytes[0])) &&
      now - escape_arrived_ms_ < timing_.sequence_limit_ms) {
    bytes_.push_back(ESC);
    retracting_ = true;
    observe_link_delay(now - escape_arrived_ms_);
  }
  escape_acted_ = false;
  bytes_.insert(bytes_.end(), bytes, bytes + count);
  line_ends_ += static_cast<std::size_t>(std::count_if(bytes, bytes + count, line_end));
  last_arrival_ms_ = now;
}

std::size_t KeyDecoder::unfinished_tail() const {
  const KeyGrammar grammar{tree_source_ != nullptr ? tree_source_() : nullptr, eight_bit_meta_};
  const std::size_t last_break = breaks_.empty() ? 0 : breaks_.back();
  std::size_t at = std::max(next_, last_break);
  while (at < bytes_.size()) {
    const DecodedUnit unit = decode_unit(bytes_.data() + at, bytes_.size() - at, false, grammar);
    if (unit.kind == Unit::Incomplete) break;
    at += unit.length;
  }
  return at;
}

DecodedUnit KeyDecoder::unit_at(std::size_t at, int64_t now) {
  std::size_t end = bytes_.size();
  for (std::size_t cut : breaks_) {
    if (cut > at) {
      end = std::min(end, cut);
      break;
    }
  }
  const KeyGrammar grammar{tree_source_ != nullptr ? tree_source_() : nullptr, eight_bit_meta_};
  const uint8_t* front = bytes_.data() + at;
  const bool cut_off = end < bytes_.size();
  DecodedUnit unit = decode_unit(front, end - at, cut_off, grammar);
  if (unit.kind == Unit::Incomplete && (ended_ || now >= wait_end(at))) unit = decode_unit(front, end - at, true, grammar);
  return unit;
}

// The rest of an overlong sequence: a CSI's parameters and its final byte, or
// a control string up to its terminator.
DecodedUnit KeyDecoder::discard_front(int64_t now) {
  const uint8_t* front = bytes_.data() + next_;
  const std::size_t count = bytes_.size() - next_;
  std::size_t length = 0;
  if (discarding_ == Discard::Sequence) {
    while (length < count && csi_parameter_or_intermediate(front[length])) ++length;
    if (length < count) {
      if (csi_final(front[length])) ++length;
      discarding_ = Discard::None;
    }
  } else {
    while (length < count && front[length] != BEL && front[length] != ESC) ++length;
    if (length < count && front[length] == BEL) {
      ++length;
      discarding_ = Discard::None;
    } else if (length + 1 < count) {  // ESC and the byte after it: ST ends the string, anything else cuts it
      if (front[length + 1] == '\\') length += 2;
      discarding_ = Discard::None;
    } else if (length < count && (ended_ || now >= wait_end(next_ + length))) {
      discarding_ = Discard::None;  // an ESC that nothing followed: the string ended before it
    }
  }
  return ignored(length);
}

DecodedUnit KeyDecoder::front_unit(int64_t now) {
  if (discarding_ != Discard::None) {
    const DecodedUnit rest = discard_front(now);
    if (rest.length != 0 || discarding_ != Discard::None) return rest.length != 0 ? rest : kIncomplete;
  }
  const DecodedUnit unit = unit_at(next_, now);
  const std::size_t count = bytes_.size() - next_;
  if (unit.kind == Unit::Incomplete && count > kLongestSequence) {
    discarding_ = count > 1 && string_introducer(bytes_[next_ + 1]) ? Discard::String : Discard::Sequence;
    return ignored(count);
  }
  return unit;
}

void KeyDecoder::consume(std::size_t length) {
  const auto from = bytes_.begin() + static_cast<std::ptrdiff_t>(next_);
  line_ends_ -= static_cast<std::size_t>(std::count_if(from, from + static_cast<std::ptrdiff_t>(length), line_end));
  next_ += length;
  while (!breaks_.empty() && breaks_.front() <= next_) breaks_.erase(breaks_.begin());
}

KeyEvent KeyDecoder::event_of(const DecodedUnit& unit) const {
  switch (unit.kind) {
    case Unit::Key: return {KeyEvent::Kind::Key, unit.key, 0, 0};
    case Unit::CursorReport: return {KeyEvent::Kind::CursorReport, -1, unit.row, unit.column};
    case Unit::SizeReport: return {KeyEvent::Kind::SizeReport, -1, unit.row, unit.column};
    default: return {};
  }
}

KeyEvent KeyDecoder::next(int64_t now) {
  if (undo_queued_) {
    undo_queued_ = false;
    return {KeyEvent::Kind::Key, KEY_ESCAPE_UNDONE, 0, 0};
  }
  if (queued_.kind != KeyEvent::Kind::None) {
    const KeyEvent event = queued_;
    queued_ = {};
    return event;
  }
  while (next_ < bytes_.size()) {
    const DecodedUnit unit = front_unit(now);
    if (unit.kind == Unit::Incomplete) return {};
    const bool retracting = retracting_;
    retracting_ = false;
    if (retracting && !sent_by_a_terminal(next_, unit)) {
      consume(1);  // the put-back ESC: the Escape was acted on, and what follows is keys after it
      continue;
    }
    consume(unit.length);
    const KeyEvent event = event_of(unit);
    if (retracting) {
      // The Escape acted on was the start of this sequence: undo it first.
      queued_ = event;
      return {KeyEvent::Kind::Key, KEY_ESCAPE_UNDONE, 0, 0};
    }
    if (event.kind == KeyEvent::Kind::None) continue;
    // A lone ESC with nothing after it was decided by its wait running out.
    escape_acted_ = event.key == KEY_ESCAPE && unit.length == 1 && next_ == bytes_.size();
    if (escape_acted_) escape_arrived_ms_ = last_arrival_ms_;
    return event;
  }
  return {};
}

// Whether the unit at at, an ESC and what follows, is what a terminal sends
// and a person does not type: a CSI or SS3 key (known or whole by its
// syntax), a reply, or a control string.
bool KeyDecoder::sent_by_a_terminal(std::size_t at, const DecodedUnit& unit) const {
  if (unit.length < 2 || bytes_[at] != ESC) return false;
  const uint8_t second = bytes_[at + 1];
  if (unit.kind == Unit::CursorReport || unit.kind == Unit::SizeReport) return true;
  if (string_introducer(second)) return true;
  if (unit.kind == Unit::Key) return unit.length >= 3;
  if (second == 'O') return unit.length == 3;
  return second == '[' && unit.length >= 3 && csi_final(bytes_[at + unit.length - 1]);
}

void KeyDecoder::take_out(std::size_t at, std::size_t length) {
  const auto from = bytes_.begin() + static_cast<std::ptrdiff_t>(at);
  bytes_.erase(from, from + static_cast<std::ptrdiff_t>(length));
  for (std::size_t& cut : breaks_) {
    if (cut > at) cut -= std::min(cut - at, length);
  }
  // A break where the reply stood: an ESC before it was the Escape key, not
  // the start of what comes after it.
  if (at > next_ && std::find(breaks_.begin(), breaks_.end(), at) == breaks_.end()) {
    breaks_.insert(std::upper_bound(breaks_.begin(), breaks_.end(), at), at);
  }
}

bool KeyDecoder::take_reply(int64_t now, KeyEvent* reply) {
  std::size_t at = std::max(scanned_, next_);
  if (discarding_ != Discard::None) at = bytes_.size();  // what follows belongs to the overlong sequence
  while (at < bytes_.size()) {
    const DecodedUnit unit = unit_at(at, now);
    if (unit.kind == Unit::Incomplete) break;
    if (unit.kind == Unit::CursorReport || unit.kind == Unit::SizeReport) {
      if (at == next_ && retracting_) {  // the reply began with an ESC taken for the Escape key
        retracting_ = false;
        undo_queued_ = true;
      }
      take_out(at, unit.length);
      scanned_ = at;
      *reply = event_of(unit);
      return true;
    }
    at += unit.length;
  }
  scanned_ = at;
  return false;
}

int KeyDecoder::reply_tail() const {
  std::size_t at = bytes_.size();
  while (at > next_ && bytes_.size() - at < 32 && ((bytes_[at - 1] >= '0' && bytes_[at - 1] <= '9') || bytes_[at - 1] == ';'))
    --at;
  if (at >= next_ + 2 && bytes_[at - 1] == '[' && bytes_[at - 2] == ESC) return 2;
  if (at == bytes_.size() && at > next_ && bytes_[at - 1] == ESC) return 1;
  return 0;
}
