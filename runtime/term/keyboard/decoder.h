// SPDX-License-Identifier: MIT
// The key decoder: the bytes a terminal sends, fed with the time they came,
// turned into keys and replies. It does no I/O and keeps no global state, so
// a test drives every timing case with a script of bytes and times.
//
// A key is a plain byte or an escape sequence. Sequences are recognised with
// the escape-sequence tree built from the terminal entry's key strings, then
// by their parameters, in every form terminals send (xterm's modifiers,
// CSI u and the kitty keyboard protocol, modifyOtherKeys, rxvt's, the
// keypad's SS3 keys); any other sequence is skipped by its ECMA-48 syntax,
// and the keys after it are kept: CSI runs to its final byte, a control
// string (OSC, DCS, SOS, PM, APC) runs to BEL or ST, and ESC with any other
// byte is that byte with Alt. Cursor, size, keyboard-protocol and device
// attribute reports are recognised wherever they arrive: a reply is never a
// key. A bracketed paste's text is bytes, marked pasted, up to its end mark.
//
// Time: a lone ESC waits the escape delay for more, or longer on a link that
// has shown pieces of sequences or replies coming late (as long as the
// latest seen, within the sequence limit), and while a report is awaited
// until the reply's deadline (the ESC may begin it); a begun sequence waits
// the sequence limit for its next byte; where the terminal sends the Escape
// key as a sequence of its own (the kitty protocol), a lone ESC is the start
// of a sequence and waits as long. A lone Escape that was acted on
// because nothing followed in time is taken back when the bytes that follow
// it (within the sequence limit, no key between) make with it what a
// terminal sends and a person does not type: a CSI or SS3 key, a reply or a
// control string. The decoder then gives KeyName::EscapeTakenBack before that key,
// so the line ends up as if the sequence had come whole. Anything else
// after it (ESC and a letter: Alt with it; "[7" and Enter) is what it is:
// the Escape stands and the bytes are keys after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "runtime/term/keyboard/keys.h"

// A node of the escape-sequence tree (key_queue.cpp builds it from the entry).
struct KeyNode {
  uint8_t byte;           // the sequence byte this node matches
  uint16_t key_code;      // the key whose sequence ends here; 0 if none (scan codes reach 0x9D)
  KeyNode* next_sibling;  // same level
  KeyNode* first_child;   // next level
};
inline constexpr int32_t KEY_MOUSE_REPORT = 512;  // tree marker, never queued

// The node of a level of the tree (a node and its siblings) that matches byte, or nullptr.
template <class Node>
Node* find_in_level(Node* level, uint8_t byte) {
  for (Node* node = level; node != nullptr; node = node->next_sibling) {
    if (node->byte == byte) return node;
  }
  return nullptr;
}

// A byte not decoded yet that may end a line: CR, LF and Ctrl+D, as typed.
// Spelt out for speed (every byte read is counted), and proved at compile
// time to be ends_a_line of the byte's key, so that the two cannot drift.
constexpr bool may_end_a_line(uint8_t b) { return b == '\r' || b == '\n' || b == 4; }
static_assert([] {
  for (int b = 0; b < 256; ++b) {
    if (may_end_a_line(static_cast<uint8_t>(b)) != ends_a_line(byte_key(static_cast<uint8_t>(b)))) return false;
  }
  return true;
}());

// ECMA-48: a CSI sequence's parameter and intermediate bytes, then its final byte.
inline bool csi_parameter_or_intermediate(uint8_t b) { return b >= 0x20 && b <= 0x3F; }
inline bool csi_final(uint8_t b) { return b >= 0x40 && b <= 0x7E; }

// What the bytes at the front are. complete: no more bytes will join them.
enum class Unit { Key, Ignored, CursorReport, SizeReport, KeyboardReport, AttributesReport, Incomplete };
struct DecodedUnit {
  Unit kind;
  Key key;              // Unit::Key
  int32_t row, column;  // reports: the cursor's row and column, the window's rows and columns, the keyboard's flags
  std::size_t length;   // bytes it takes (0 when incomplete)
};

// How bytes read as keys: the tree of the entry's sequences (after the ESC),
// whether a byte from 0x80 to 0xFF is Alt with its low seven bits (xterm's
// 8-bit meta, outside a UTF-8 locale), and whether text is UTF-8 (ESC and a
// character is Alt with it).
struct KeyGrammar {
  const KeyNode* tree;
  bool eight_bit_meta;
  bool utf8 = false;
  bool seven_bit = false;  // a byte past ASCII that is not Alt loses its eighth bit
};
DecodedUnit decode_unit(const uint8_t* bytes, std::size_t count, bool complete, const KeyGrammar& grammar);

// What the decoder gives: a key, a reply, or nothing yet.
struct KeyEvent {
  enum class Kind : uint8_t { None, Key, CursorReport, SizeReport, KeyboardReport, AttributesReport };
  Kind kind = Kind::None;
  Key key;                      // Kind::Key
  int32_t row = 0, column = 0;  // replies: the cursor's row and column, the window's rows and columns, the keyboard's flags
  bool is_reply() const { return kind != Kind::None && kind != Kind::Key; }
};

inline constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();

// Follows bytes one at a time for the end of a reply, with no I/O (the
// signal paths use it too): its state is 0 outside a sequence, 1 after ESC,
// 2 within "ESC [" and its parameters. Answered when a reply's final byte
// ends it: the cursor's (R), the size's (t) and the device attributes' (c,
// which end the keyboard question); Answering for the keyboard's flags (u)
// before them. The decoder reads what a reply holds (report_in); this only
// says where one ends.
class ReplyScanner {
 public:
  enum class End { No, Answered, Answering };
  explicit ReplyScanner(int state = 0) : state_(state) {}
  // A byte that may stand among a reply's parameters.
  static constexpr bool parameter(uint8_t b) { return (b >= '0' && b <= '9') || b == ';' || b == '?'; }
  End feed(uint8_t b) {
    End ended = End::No;
    if (state_ == 2 && (b == 'R' || b == 't' || b == 'c')) ended = End::Answered;
    if (state_ == 2 && b == 'u') ended = End::Answering;
    if (b == 27) {
      state_ = 1;
    } else if (state_ == 1 && b == '[') {
      state_ = 2;
    } else if (!(state_ == 2 && parameter(b))) {
      state_ = 0;
    }
    return ended;
  }
  int state() const { return state_; }

 private:
  int state_;
};

class KeyDecoder {
 public:
  struct Timing {
    int escape_delay_ms = 100;     // ESCDELAY: a lone ESC waits this long for more
    int sequence_limit_ms = 1000;  // the rest of a begun sequence is awaited this long
  };
  // The tree is asked for when a sequence is first decoded (it is built lazily).
  using TreeSource = const KeyNode* (*)();

  void set_timing(Timing timing) { timing_ = timing; }
  const Timing& timing() const { return timing_; }
  void set_tree_source(TreeSource source) { tree_source_ = source; }
  void set_eight_bit_meta(bool on) { eight_bit_meta_ = on; }
  void set_utf8(bool on) { utf8_ = on; }
  void set_seven_bit(bool on) { seven_bit_ = on; }
  // The terminal sends the Escape key as a sequence of its own: a lone ESC begins one.
  void set_escape_reported(bool on) { escape_reported_ = on; }
  // While a report is awaited, a lone ESC waits for the rest until deadline_ms (0: none awaited).
  void await_reply_until(int64_t deadline_ms) { reply_deadline_ms_ = deadline_ms; }
  // A reply came this long after its request: the link may cut a key as long.
  void observe_link_delay(int64_t ms);
  // How long a lone ESC waits now: the escape delay, or what the link has shown.
  int64_t escape_wait_ms() const;
  // No more bytes will come (the keyboard ended): what waits is decided as it stands.
  void set_ended(bool ended) { ended_ = ended; }

  void feed(const uint8_t* bytes, std::size_t count, int64_t now);
  // The next key or reply whose bytes are decided at now; Kind::None while
  // nothing is (see deadline).
  KeyEvent next(int64_t now);
  // Takes the next reply out of the bytes not yet decoded, wherever it
  // stands, leaving the keys around it in order; false when there is none.
  bool take_reply(int64_t now, KeyEvent* reply);
  // When what waits at the front will be decided as it stands; kNoDeadline if nothing waits.
  int64_t deadline() const;

  // The bytes not yet decoded (replies taken out already).
  std::string_view undecoded() const {
    return {reinterpret_cast<const char*>(bytes_.data()) + next_, bytes_.size() - next_};
  }
  bool has_pending() const {
    return next_ < bytes_.size() || undo_queued_ || queued_.kind != KeyEvent::Kind::None || in_paste_;
  }
  // Whether an undecoded byte may end a line (CR, LF, Ctrl+D): what comes after it may be someone else's.
  bool holds_line_end() const { return line_ends_ != 0; }
  // Where the undecoded bytes end as a ReplyScanner sees them: inside what
  // may become a reply, or not.
  int reply_tail() const;
  // Forgets every byte, every wait and what the link showed (a new script, or a new run).
  void clear();

 private:
  enum class Discard : uint8_t { None, Sequence, String };
  DecodedUnit unit_at(std::size_t at, int64_t now);
  DecodedUnit front_unit(int64_t now);
  DecodedUnit discard_front(int64_t now);
  int64_t wait_end(std::size_t at) const;
  // Where the last unit of the undecoded bytes begins if it may still grow; their end if not.
  std::size_t unfinished_tail() const;
  bool escapes_only(std::size_t at) const;
  void consume(std::size_t length);
  void take_out(std::size_t at, std::size_t length);
  void compact();
  KeyEvent event_of(const DecodedUnit& unit) const;
  bool sent_by_a_terminal(std::size_t at, const DecodedUnit& unit) const;
  KeyGrammar grammar() const;
  KeyEvent next_pasted(int64_t now);
  // Where the paste that runs at at ends, after its end mark; npos while its end has not come.
  std::size_t after_paste(std::size_t at) const;

  Timing timing_;
  TreeSource tree_source_ = nullptr;
  bool eight_bit_meta_ = false;
  bool utf8_ = false;
  bool seven_bit_ = false;
  bool escape_reported_ = false;
  bool ended_ = false;
  bool in_paste_ = false;              // the front bytes are a paste's text
  bool pasted_cr_ = false;             // ... the last of it a CR: an LF after it is the same line break
  int64_t reply_deadline_ms_ = 0;
  std::vector<uint8_t> bytes_;
  std::size_t next_ = 0;               // the oldest byte not yet decoded
  std::size_t scanned_ = 0;            // from next_ to here: whole units, replies already taken out
  std::size_t line_ends_ = 0;          // undecoded bytes that may end a line
  std::vector<std::size_t> breaks_;    // no unit spans one: a reply was taken out, or a wait ran out
  int64_t last_arrival_ms_ = 0;        // when bytes last came
  int64_t link_delay_ms_ = 0;          // the longest gap within a sequence, or reply time, seen
  Discard discarding_ = Discard::None;  // within an overlong sequence: dropped as it comes
  // The last key given was a lone ESC, acted on when nothing followed in time.
  bool escape_acted_ = false;
  int64_t escape_arrived_ms_ = 0;
  bool retracting_ = false;            // the front unit begins with that ESC, put back
  bool undo_queued_ = false;           // EscapeTakenBack is due (its sequence was a reply taken out)
  KeyEvent queued_;                    // the key or reply that follows an EscapeTakenBack
};
