// SPDX-License-Identifier: MIT
#include "runtime/term/keyboard/decoder.h"

#include <algorithm>
#include <cstring>

#include "runtime/core/decimal.h"
#include "runtime/term/term.h"

namespace {

constexpr uint8_t ESC = 27;
constexpr uint8_t BEL = 7;
// No key or reply is longer: a sequence that runs on past this is thrown
// away as it comes, however long it goes on (a terminal gone wrong).
constexpr std::size_t kLongestSequence = 256;
constexpr char kPasteEnd[] = "\033[201~";
constexpr std::size_t kPasteEndLength = sizeof kPasteEnd - 1;

DecodedUnit ignored(std::size_t length) { return {Unit::Ignored, Key{}, 0, 0, length}; }
// A key, or nothing for no key.
DecodedUnit key(Key code, std::size_t length) {
  return code ? DecodedUnit{Unit::Key, code, 0, 0, length} : ignored(length);
}
constexpr DecodedUnit kIncomplete{Unit::Incomplete, Key{}, 0, 0, 0};

// ESC ] (OSC), ESC P (DCS), ESC X (SOS), ESC ^ (PM) and ESC _ (APC) begin a control string.
bool string_introducer(uint8_t b) { return b == ']' || b == 'P' || b == 'X' || b == '^' || b == '_'; }
// A CSI sequence's first parameter byte may mark it private: replies and mouse reports, never keys.
bool private_marker(uint8_t b) { return b >= '<' && b <= '?'; }

// Reads "n;m" (or "8;n;m" for the size report) from the parameters of a CSI sequence.
bool parse_numbers(const uint8_t* p, const uint8_t* end, int32_t* values, int count) {
  for (int i = 0; i < count; ++i) {
    const LeadingDigits n = leading_digits(std::string_view(reinterpret_cast<const char*>(p), end - p), 1 << 24);
    if (n.length == 0) return false;
    p += n.length;
    values[i] = static_cast<int32_t>(n.value);
    if (i + 1 < count && (p == end || *p++ != ';')) return false;
  }
  return p == end;
}

// A whole CSI sequence of the given length that is a reply: a cursor report
// (ESC [ row ; column R), a size report (ESC [ 8 ; rows ; columns t), the
// kitty keyboard protocol's flags (ESC [ ? flags u) or the device
// attributes (ESC [ ? ... c).
DecodedUnit report_in(const uint8_t* bytes, std::size_t length) {
  const uint8_t* parameters = bytes + 2;
  const uint8_t* end = bytes + length - 1;
  const uint8_t final_byte = bytes[length - 1];
  int32_t values[3] = {0, 0, 0};
  if (final_byte == 'R' && parse_numbers(parameters, end, values, 2))
    return {Unit::CursorReport, Key{}, values[0], values[1], length};
  if (final_byte == 't' && parse_numbers(parameters, end, values, 3) && values[0] == 8)
    return {Unit::SizeReport, Key{}, values[1], values[2], length};
  if (length >= 4 && parameters[0] == '?') {
    if (final_byte == 'u' && parse_numbers(parameters + 1, end, values, 1))
      return {Unit::KeyboardReport, Key{}, values[0], 0, length};
    if (final_byte == 'c' && std::all_of(parameters + 1, end, [](uint8_t b) { return (b >= '0' && b <= '9') || b == ';'; }))
      return {Unit::AttributesReport, Key{}, 0, 0, length};
  }
  return ignored(length);
}

// The extent of a CSI sequence: its length when whole, 0 while it may go on,
// or the length before a byte that cannot belong to it (cut off: that byte
// begins the next key). rxvt ends Shift with an editing key by "$".
struct Extent {
  std::size_t length;
  bool whole;
};
Extent csi_extent(const uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 2; i < count; ++i) {
    if (csi_final(bytes[i]) || (bytes[i] == '$' && i > 2 && !private_marker(bytes[2]))) return {i + 1, true};
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

// --- Keys by their parameters -----------------------------------------------

// The modifiers of xterm's parameter (1 + Shift 1, Alt 2, Ctrl 4, Super 8;
// kitty adds Hyper 16, Meta 32 and the locks 64 and 128, which do not
// count); kNoModifiers for one that no key here takes (Super, Hyper, Meta).
constexpr uint8_t kNoModifiers = 0xFF;
uint8_t modifiers_of(uint32_t parameter) {
  if (parameter <= 1) return 0;
  const uint32_t held = (parameter - 1) & ~uint32_t{64 | 128};
  return held > 7 ? kNoModifiers : static_cast<uint8_t>(held);
}

Key with_modifiers(Key key, uint8_t modifiers) {
  if (modifiers == kNoModifiers) return Key{};
  key.modifiers |= modifiers;
  return key;
}
Key keypad_key(Key key) {
  key.keypad = true;
  return key;
}

// The numbered keys of CSI n ~ (xterm, the VT220, kitty's F3 as 13).
Key numbered_key(uint32_t number) {
  switch (number) {
    case 1: case 7: return named_key(KeyName::Home);
    case 2: return named_key(KeyName::Insert);
    case 3: return named_key(KeyName::Delete);
    case 4: case 8: return named_key(KeyName::End);
    case 5: return named_key(KeyName::PageUp);
    case 6: return named_key(KeyName::PageDown);
    case 200: return named_key(KeyName::PasteStart);
    case 201: return named_key(KeyName::PasteEnd);
    default: break;
  }
  constexpr uint32_t kFirstOfRun[] = {11, 17, 23};  // F1-F5, F6-F10, F11-F12
  constexpr int kFirstKey[] = {0, 5, 10};
  constexpr uint32_t kRunLength[] = {5, 5, 2};
  for (int run = 0; run < 3; ++run) {
    if (number >= kFirstOfRun[run] && number < kFirstOfRun[run] + kRunLength[run])
      return named_key(static_cast<KeyName>(static_cast<int>(KeyName::F1) + kFirstKey[run] + static_cast<int>(number - kFirstOfRun[run])));
  }
  return Key{};
}

// The key a final byte names: the arrows, Home, End, the keypad's centre
// and F1 to F4 (CSI and SS3 alike); Shift+Tab.
Key final_key(uint8_t final_byte) {
  switch (final_byte) {
    case 'A': return named_key(KeyName::Up);
    case 'B': return named_key(KeyName::Down);
    case 'C': return named_key(KeyName::Right);
    case 'D': return named_key(KeyName::Left);
    case 'H': return named_key(KeyName::Home);
    case 'F': return named_key(KeyName::End);
    case 'E': return named_key(KeyName::Begin);
    case 'P': return named_key(KeyName::F1);
    case 'Q': return named_key(KeyName::F2);
    case 'R': return named_key(KeyName::F3);
    case 'S': return named_key(KeyName::F4);
    case 'Z': return named_key(KeyName::Tab, KEY_SHIFT);
    default: return Key{};
  }
}

// The keypad in application mode, by the SS3 final byte (xterm, urxvt, PuTTY).
Key ss3_keypad_key(uint8_t final_byte) {
  if (final_byte >= 'p' && final_byte <= 'y') return keypad_key(text_key(static_cast<char>('0' + final_byte - 'p')));
  constexpr struct {
    uint8_t final_byte;
    char text;
  } kKeypad[] = {{'j', '*'}, {'k', '+'}, {'l', ','}, {'m', '-'}, {'n', '.'}, {'o', '/'}, {'X', '='}, {' ', ' '}};
  for (const auto& key : kKeypad) {
    if (key.final_byte == final_byte) return keypad_key(text_key(key.text));
  }
  if (final_byte == 'M') return keypad_key(named_key(KeyName::Enter));
  if (final_byte == 'I') return keypad_key(named_key(KeyName::Tab));
  return Key{};
}

// The kitty protocol's codes for the keypad (57399 to 57427).
Key kitty_keypad_key(uint32_t code) {
  constexpr uint32_t kFirst = 57399;
  if (code < kFirst || code > 57427) return Key{};
  const uint32_t index = code - kFirst;
  if (index < 10) return keypad_key(text_key(static_cast<char>('0' + index)));
  constexpr char kText[] = "./*-+";  // 57409 to 57413
  if (index < 15) return keypad_key(text_key(kText[index - 10]));
  constexpr KeyName kNamed[] = {KeyName::Enter, KeyName::None, KeyName::None, KeyName::Left, KeyName::Right,
                                KeyName::Up,    KeyName::Down, KeyName::PageUp, KeyName::PageDown, KeyName::Home,
                                KeyName::End,   KeyName::Insert, KeyName::Delete, KeyName::Begin};
  if (index == 16) return keypad_key(text_key('='));
  if (index == 17) return keypad_key(text_key(','));
  return keypad_key(named_key(kNamed[index - 15]));
}

// The control byte Ctrl gives with a character, as terminals have always
// sent it (Ctrl+A 1, Ctrl+Space and Ctrl+2 0, Ctrl+/ and Ctrl+7 31, Ctrl+?
// and Ctrl+8 DEL); -1 for a character it gives none with.
int control_byte_of(uint32_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= '@' && c <= '_')) return static_cast<int>(c & 0x1F);
  constexpr struct {
    char characters[5];
    int byte;
  } kOthers[] = {{" 2", 0}, {"3", 27}, {"4", 28}, {"5", 29}, {"6~", 30}, {"7/", 31}, {"8?", 127}};
  for (const auto& row : kOthers) {
    if (c != 0 && c < 128 && std::strchr(row.characters, static_cast<int>(c)) != nullptr) return row.byte;
  }
  return -1;
}

// A key sent as its code point with modifiers (CSI u, modifyOtherKeys): a
// character with Shift its shifted one, Ctrl with a character its control
// byte, Alt with a key that key with Alt; Escape, Enter, Tab and Backspace
// themselves, with only the modifiers they have when sent as bytes (Alt,
// and Shift with Tab), and the keypad's keys as labelled. Unknown codes are
// no key.
Key code_point_key(uint32_t code, uint32_t shifted, uint8_t modifiers) {
  if (modifiers == kNoModifiers || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return Key{};
  if (const Key keypad = kitty_keypad_key(code)) return with_modifiers(keypad, modifiers);
  if (code >= 57344 && code <= 63743) return Key{};  // the protocol's other functional keys
  if (code == 27 || code == 13 || code == 9 || code == 127 || code == 8)
    return byte_key(static_cast<uint8_t>(code), modifiers & (code == 9 ? KEY_ALT | KEY_SHIFT : KEY_ALT));
  if (modifiers & KEY_SHIFT) {
    if (shifted != 0) {
      code = shifted;
    } else if (code >= 'a' && code <= 'z') {
      code -= 'a' - 'A';
    }
  }
  const uint8_t alt = modifiers & KEY_ALT;
  if (modifiers & KEY_CTRL) {
    const int control = control_byte_of(code >= 'A' && code <= 'Z' ? code + ('a' - 'A') : code);
    return control < 0 ? Key{} : byte_key(static_cast<uint8_t>(control), alt);
  }
  if (code < 128) return byte_key(static_cast<uint8_t>(code), alt);
  return Key{KeyName::Character, alt, false, false, code};
}

// The parameters of a CSI key: up to four, each with up to three ":" parts
// (kitty's code:shifted:base ; modifiers:event ; text).
struct Parameters {
  uint32_t value[4][3] = {};
  int count = 0;
};
bool parse_parameters(const uint8_t* p, const uint8_t* end, Parameters* out) {
  int part = 0;
  out->count = p < end ? 1 : 0;
  for (; p < end; ++p) {
    if (*p >= '0' && *p <= '9') {
      uint32_t& value = out->value[out->count - 1][part];
      value = std::min<uint32_t>(value * 10 + (*p - '0'), 1u << 24);
    } else if (*p == ';' && out->count < 4) {
      ++out->count;
      part = 0;
    } else if (*p == ':' && part < 2) {
      ++part;
    } else {
      return false;
    }
  }
  return true;
}

// A whole CSI sequence read as a key by its parameters; no key when it is none.
Key csi_key(const uint8_t* bytes, std::size_t length) {
  const uint8_t final_byte = bytes[length - 1];
  Parameters parameters;
  if (private_marker(bytes[2]) || !parse_parameters(bytes + 2, bytes + length - 1, &parameters)) return Key{};
  const auto& first = parameters.value[0];
  const uint8_t modifiers = modifiers_of(parameters.value[1][0]);
  if (parameters.value[1][1] == 3) return Key{};  // a key's release (the protocol's event types)
  switch (final_byte) {
    case 'u': return code_point_key(first[0], first[1], modifiers);
    case '~':
      if (first[0] == 27) return code_point_key(parameters.value[2][0], 0, modifiers);  // modifyOtherKeys
      return with_modifiers(numbered_key(first[0]), modifiers);
    case '^': return with_modifiers(numbered_key(first[0]), KEY_CTRL);  // rxvt's modifiers
    case '$': return with_modifiers(numbered_key(first[0]), KEY_SHIFT);
    case '@': return with_modifiers(numbered_key(first[0]), KEY_CTRL | KEY_SHIFT);
    default: break;
  }
  if (final_byte >= 'a' && final_byte <= 'd' && parameters.count == 0)  // rxvt's Shift with the arrows
    return with_modifiers(final_key(static_cast<uint8_t>(final_byte - 'a' + 'A')), KEY_SHIFT);
  if (parameters.count == 1 && first[0] > 1)  // an old xterm's modifiers, alone (rxvt's Ctrl+Left: CSI 5 D)
    return final_byte != 'Z' ? with_modifiers(final_key(final_byte), modifiers_of(first[0])) : Key{};
  if (first[0] > 1 || parameters.count > 2) return Key{};
  return with_modifiers(final_key(final_byte), modifiers);
}

// An SS3 key: ESC O, a modifier parameter or none, and a final byte that an
// SS3 key ends with (the arrows and the rest of final_key, rxvt's Ctrl with
// the arrows, the keypad). After ESC O any other byte is no such key: ESC O
// is Alt+O, and the byte begins the next key.
DecodedUnit ss3_key(const uint8_t* bytes, std::size_t count, bool complete) {
  std::size_t at = 2;
  uint32_t parameter = 0;
  while (at < count && at < 4 && bytes[at] >= '0' && bytes[at] <= '9') parameter = parameter * 10 + (bytes[at++] - '0');
  if (at == count && !complete) return kIncomplete;
  Key found;
  if (at < count) {
    const uint8_t final_byte = bytes[at];
    found = final_byte != 'Z' ? final_key(final_byte) : Key{};
    if (!found && final_byte >= 'a' && final_byte <= 'd')
      found = with_modifiers(final_key(static_cast<uint8_t>(final_byte - 'a' + 'A')), KEY_CTRL);
    if (!found) found = ss3_keypad_key(final_byte);
  }
  if (!found) return key(byte_key('O', KEY_ALT), 2);
  return key(with_modifiers(found, modifiers_of(parameter)), at + 1);
}

// ESC and one byte, or ESC and a UTF-8 character: Alt with it.
DecodedUnit alt_unit(const uint8_t* bytes, std::size_t count, bool complete, bool utf8) {
  const uint8_t lead = bytes[1];
  const std::size_t needed = !utf8 || lead < 0xC2 || lead > 0xF4 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (needed > 1) {
    if (count < needed + 1 && !complete) return kIncomplete;
    const Utf8Character c =
        text_decode_utf8(std::string_view(reinterpret_cast<const char*>(bytes) + 1, std::min(count - 1, needed)), 0);
    if (c.length == needed) return key(Key{KeyName::Character, KEY_ALT, false, false, static_cast<uint32_t>(c.code_point)}, needed + 1);
  }
  return key(byte_key(lead, KEY_ALT), 2);
}

// An unrecognised sequence after ESC, read by its parameters or skipped by its syntax.
DecodedUnit sequence_by_syntax(const uint8_t* bytes, std::size_t count, bool complete, bool utf8) {
  if (bytes[1] == '[') {
    if (count > 2 && bytes[2] == '[') {  // the Linux console's F1 to F5: ESC [ [ A to E
      if (count == 3) return complete ? ignored(3) : kIncomplete;
      const bool function_key = bytes[3] >= 'A' && bytes[3] <= 'E';
      return function_key ? key(named_key(static_cast<KeyName>(static_cast<int>(KeyName::F1) + bytes[3] - 'A')), 4)
                          : ignored(3);
    }
    const Extent extent = csi_extent(bytes, count);
    if (extent.length == 0) return complete ? ignored(count) : kIncomplete;
    if (!extent.whole) return ignored(extent.length);
    const DecodedUnit report = report_in(bytes, extent.length);
    return report.kind != Unit::Ignored ? report : key(csi_key(bytes, extent.length), extent.length);
  }
  if (bytes[1] == 'O') return ss3_key(bytes, count, complete);
  if (string_introducer(bytes[1])) return control_string(bytes, count, complete);
  return alt_unit(bytes, count, complete, utf8);
}

// A sequence after ESC: the entry's own strings first, then the syntax.
// Replies come before the tree, so that no key string can hide one.
DecodedUnit decode_sequence(const uint8_t* bytes, std::size_t count, bool complete, const KeyGrammar& grammar) {
  if (bytes[1] == '[') {
    const Extent extent = csi_extent(bytes, count);
    if (extent.whole) {
      const DecodedUnit report = report_in(bytes, extent.length);
      if (report.kind != Unit::Ignored) return report;
    }
  }
  if (string_introducer(bytes[1])) return control_string(bytes, count, complete);
  const KeyNode* level = grammar.tree;
  for (std::size_t i = 1;; ++i) {
    if (i == count) return complete ? sequence_by_syntax(bytes, count, true, grammar.utf8) : kIncomplete;
    const KeyNode* node = find_in_level(level, bytes[i]);
    if (node == nullptr) return sequence_by_syntax(bytes, count, complete, grammar.utf8);
    if (node->key_code == KEY_MOUSE_REPORT) {  // button and position bytes follow
      if (count >= i + 4) return ignored(i + 4);
      return complete ? ignored(count) : kIncomplete;
    }
    // Decoding stops at the first node with a key, even where longer sequences go on.
    if (node->key_code != 0) return key(key_of_code(node->key_code), i + 1);
    if (node->first_child == nullptr) return sequence_by_syntax(bytes, count, complete, grammar.utf8);  // a row left out
    level = node->first_child;
  }
}

}  // namespace

DecodedUnit decode_unit(const uint8_t* bytes, std::size_t count, bool complete, const KeyGrammar& grammar) {
  if (count == 0) return kIncomplete;
  if (bytes[0] != ESC) {
    if (grammar.eight_bit_meta && bytes[0] >= 0x80) return key(byte_key(bytes[0] & 0x7F, KEY_ALT), 1);
    return key(byte_key(grammar.seven_bit ? bytes[0] & 0x7F : bytes[0]), 1);
  }
  if (count == 1) return complete ? key(named_key(KeyName::Escape), 1) : kIncomplete;
  if (bytes[1] == ESC) {
    // ESC before a whole sequence: that key with Alt. Otherwise the first ESC
    // is the Escape key by itself, and the second begins what follows.
    if (count == 2) return complete ? key(named_key(KeyName::Escape), 1) : kIncomplete;
    if (bytes[2] != '[' && bytes[2] != 'O') return key(named_key(KeyName::Escape), 1);
    const DecodedUnit inner = decode_sequence(bytes + 1, count - 1, complete, grammar);
    if (inner.kind == Unit::Incomplete) return inner;
    if (inner.kind == Unit::Key && inner.length >= 3) return key(alt(inner.key), inner.length + 1);
    if (inner.kind == Unit::Ignored) return ignored(inner.length + 1);
    return key(named_key(KeyName::Escape), 1);  // Escape, then a reply or ESC O as Alt+O
  }
  return decode_sequence(bytes, count, complete, grammar);
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
  in_paste_ = pasted_cr_ = false;
  line_ends_ = 0;
}

KeyGrammar KeyDecoder::grammar() const {
  return KeyGrammar{tree_source_ != nullptr ? tree_source_() : nullptr, eight_bit_meta_, utf8_, seven_bit_};
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
// and while a reply is awaited until its deadline; anything longer, or a
// lone ESC where the Escape key is a sequence of its own, waits the sequence
// limit.
int64_t KeyDecoder::wait_end(std::size_t at) const {
  if (escapes_only(at) && !escape_reported_)
    return std::max(last_arrival_ms_ + escape_wait_ms(), reply_deadline_ms_);
  return last_arrival_ms_ + std::max(timing_.escape_delay_ms, timing_.sequence_limit_ms);
}

int64_t KeyDecoder::deadline() const {
  if (ended_) return kNoDeadline;
  if (in_paste_) return last_arrival_ms_ + timing_.sequence_limit_ms;  // a paste whose end mark never comes
  if (next_ >= bytes_.size()) return kNoDeadline;
  if (discarding_ == Discard::String) return last_arrival_ms_ + timing_.sequence_limit_ms;  // an ESC that may begin ST
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
  line_ends_ += static_cast<std::size_t>(std::count_if(bytes, bytes + count, may_end_a_line));
  last_arrival_ms_ = now;
}

std::size_t KeyDecoder::unfinished_tail() const {
  const KeyGrammar keys = grammar();
  const std::size_t last_break = breaks_.empty() ? 0 : breaks_.back();
  std::size_t at = in_paste_ ? after_paste(next_) : std::max(next_, last_break);
  while (at < bytes_.size()) {
    const DecodedUnit unit = decode_unit(bytes_.data() + at, bytes_.size() - at, false, keys);
    if (unit.kind == Unit::Incomplete) break;
    at += unit.length;
    if (unit.kind == Unit::Key && unit.key.name == KeyName::PasteStart) at = after_paste(at);
  }
  return std::min(at, bytes_.size());
}

std::size_t KeyDecoder::after_paste(std::size_t at) const {
  const std::string_view rest(reinterpret_cast<const char*>(bytes_.data()) + at, bytes_.size() - at);
  const std::size_t end = rest.find(std::string_view(kPasteEnd, kPasteEndLength));
  return end == std::string_view::npos ? std::string_view::npos : at + end + kPasteEndLength;
}

DecodedUnit KeyDecoder::unit_at(std::size_t at, int64_t now) {
  std::size_t end = bytes_.size();
  for (std::size_t cut : breaks_) {
    if (cut > at) {
      end = std::min(end, cut);
      break;
    }
  }
  const KeyGrammar keys = grammar();
  const uint8_t* front = bytes_.data() + at;
  const bool cut_off = end < bytes_.size();
  DecodedUnit unit = decode_unit(front, end - at, cut_off, keys);
  if (unit.kind == Unit::Incomplete && (ended_ || now >= wait_end(at))) unit = decode_unit(front, end - at, true, keys);
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
    } else if (length < count && (ended_ || now >= last_arrival_ms_ + timing_.sequence_limit_ms)) {
      // An ESC that nothing followed within the sequence limit (as for a
      // string of usual length, it may begin ST): the string ended before it.
      discarding_ = Discard::None;
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
  line_ends_ -= static_cast<std::size_t>(std::count_if(from, from + static_cast<std::ptrdiff_t>(length), may_end_a_line));
  next_ += length;
  while (!breaks_.empty() && breaks_.front() <= next_) breaks_.erase(breaks_.begin());
}

KeyEvent KeyDecoder::event_of(const DecodedUnit& unit) const {
  switch (unit.kind) {
    case Unit::Key: return {KeyEvent::Kind::Key, unit.key, 0, 0};
    case Unit::CursorReport: return {KeyEvent::Kind::CursorReport, Key{}, unit.row, unit.column};
    case Unit::SizeReport: return {KeyEvent::Kind::SizeReport, Key{}, unit.row, unit.column};
    case Unit::KeyboardReport: return {KeyEvent::Kind::KeyboardReport, Key{}, unit.row, 0};
    case Unit::AttributesReport: return {KeyEvent::Kind::AttributesReport, Key{}, 0, 0};
    default: return {};
  }
}

KeyEvent key_event(Key key) { return {KeyEvent::Kind::Key, key, 0, 0}; }

// Inside a paste every byte is text, up to the end mark; an end mark that
// may be arriving waits for the rest within the sequence limit, and a paste
// whose end never comes ends when nothing has come for as long.
KeyEvent KeyDecoder::next_pasted(int64_t now) {
  const bool waited_out = ended_ || now >= last_arrival_ms_ + timing_.sequence_limit_ms;
  if (next_ == bytes_.size()) {
    if (!waited_out) return {};
    in_paste_ = pasted_cr_ = false;
    return key_event(named_key(KeyName::PasteEnd));
  }
  const std::size_t count = std::min(bytes_.size() - next_, kPasteEndLength);
  if (bytes_[next_] == ESC && std::memcmp(bytes_.data() + next_, kPasteEnd, count) == 0) {
    if (count == kPasteEndLength) {
      consume(kPasteEndLength);
      in_paste_ = pasted_cr_ = false;
      return key_event(named_key(KeyName::PasteEnd));
    }
    if (!waited_out) return {};
  }
  const uint8_t byte = bytes_[next_];
  consume(1);
  const bool after_cr = pasted_cr_;
  pasted_cr_ = byte == '\r';
  if (byte == '\n' && after_cr) return next_pasted(now);  // CR LF: one line break
  return key_event(Key{KeyName::Byte, 0, false, true, byte});
}

KeyEvent KeyDecoder::next(int64_t now) {
  if (undo_queued_) {
    undo_queued_ = false;
    return key_event(named_key(KeyName::EscapeTakenBack));
  }
  if (queued_.kind != KeyEvent::Kind::None) {
    const KeyEvent event = queued_;
    queued_ = {};
    if (event.key.name == KeyName::PasteStart) in_paste_ = true;
    return event;
  }
  if (in_paste_) return next_pasted(now);
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
      return key_event(named_key(KeyName::EscapeTakenBack));
    }
    if (event.kind == KeyEvent::Kind::None) continue;
    if (event.key.name == KeyName::PasteEnd) continue;  // an end mark without its start
    if (event.key.name == KeyName::PasteStart) in_paste_ = true;
    // A lone ESC with nothing after it was decided by its wait running out.
    escape_acted_ = event.key == named_key(KeyName::Escape) && unit.length == 1 && next_ == bytes_.size();
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
  if (event_of(unit).is_reply()) return true;
  if (string_introducer(second)) return true;
  if (unit.kind == Unit::Key || second == 'O') return unit.length >= 3;  // ESC O alone is Alt+O
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
  if (in_paste_) {  // a paste's text holds no reply: those after it are looked for once it has ended
    const std::size_t end = after_paste(next_);
    if (end == std::string_view::npos) return false;
    at = std::max(at, end);
  }
  while (at < bytes_.size()) {
    const DecodedUnit unit = unit_at(at, now);
    if (unit.kind == Unit::Incomplete) break;
    if (unit.kind == Unit::Key && unit.key.name == KeyName::PasteStart) {
      const std::size_t end = after_paste(at + unit.length);
      if (end == std::string_view::npos) break;
      at = end;
      continue;
    }
    if (event_of(unit).is_reply()) {
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

// Called at every fill, so it reads only what can matter: the parameter
// bytes at the end (a few dozen at most) and the two before them.
int KeyDecoder::reply_tail() const {
  constexpr std::size_t kLookBack = 32;
  std::size_t at = bytes_.size();
  while (at > next_ && bytes_.size() - at < kLookBack && ReplyScanner::parameter(bytes_[at - 1])) --at;
  ReplyScanner scanner;
  for (std::size_t i = std::max(next_, at >= 2 ? at - 2 : 0); i < bytes_.size(); ++i) scanner.feed(bytes_[i]);
  return scanner.state();
}
