// SPDX-License-Identifier: MIT
// Text as the terminal shows it: units and their cells.
//
// In a UTF-8 locale a unit is one character: a valid UTF-8 sequence, with
// the zero-width marks that follow it, taking wcwidth cells (a wide CJK
// character two, a combining mark none); a byte that begins no valid
// sequence is a unit of one cell of its own. In any other locale every byte
// is a unit of one cell. The locale is the one start-up took from the
// environment.
#include <langinfo.h>

#include <cctype>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "runtime/term/term_internal.h"

namespace {

// How many bytes a UTF-8 sequence with this first byte has; 0 for a byte that begins none.
std::size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

}  // namespace

Utf8Character text_decode_utf8(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  const std::size_t length = sequence_length(lead);
  if (length == 1) return {lead, 1};
  if (length == 0 || at + length > text.size()) return {0, 0};
  constexpr char32_t kLowest[] = {0, 0, 0x80, 0x800, 0x10000};  // below these the form is overlong
  const char32_t lowest = kLowest[length];
  char32_t code_point = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return {0, 0};
    code_point = (code_point << 6) | (byte(i) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not characters.
  if (code_point < lowest || (code_point >= 0xD800 && code_point <= 0xDFFF) || code_point > 0x10FFFF) return {0, 0};
  return {code_point, length};
}

namespace {

// The cells of a character, and whether it may be sent as it is. A character
// the locale cannot show still takes a cell (its stand-in's).
TextUnit character_of(char32_t code_point, std::size_t length) {
  if (code_point < 0x80) return {length, 1, code_point >= 0x20 && code_point != 0x7F};  // control bytes: one cell
  if (code_point <= 0x9F) return {length, 1, false};                                    // C1
  const int width = wcwidth(static_cast<wchar_t>(code_point));
  return {length, width < 0 ? 1 : width, width >= 0};
}

}  // namespace

bool term_text_utf8() {
  if (term.encoding == Encoding::Unknown) {
    const char* codeset = nl_langinfo(CODESET);
    term.encoding = codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0 ? Encoding::Utf8 : Encoding::Bytes;
  }
  return term.encoding == Encoding::Utf8;
}

TextUnit text_character_at(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (!term_text_utf8()) return {1, 1, (lead >= 0x20 && lead < 0x7F) || lead >= 0xA0};  // not C0, DEL or C1
  const Utf8Character decoded = text_decode_utf8(text, at);
  if (decoded.length == 0) return {1, 1, false};  // a byte that begins no character
  return character_of(decoded.code_point, decoded.length);
}

TextUnit text_unit_at(std::string_view text, std::size_t at) {
  TextUnit unit = text_character_at(text, at);
  if (!term_text_utf8()) return unit;
  // Zero-width marks belong to the character before them.
  while (at + unit.length < text.size()) {
    const Utf8Character next = text_decode_utf8(text, at + unit.length);
    if (next.length == 0 || character_of(next.code_point, next.length).cells != 0) break;
    unit.length += next.length;
  }
  return unit;
}

bool text_incomplete_character(std::string_view bytes) {
  if (!term_text_utf8() || bytes.empty()) return false;
  const std::size_t wanted = sequence_length(static_cast<unsigned char>(bytes[0]));
  if (bytes.size() >= wanted) return false;  // complete, or a byte that begins no sequence (0)
  for (std::size_t i = 1; i < bytes.size(); ++i) {
    if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) return false;
  }
  return true;
}

std::size_t text_cells(std::string_view text) {
  std::size_t cells = 0;
  for (std::size_t at = 0; at < text.size();) {
    const TextUnit unit = text_unit_at(text, at);
    cells += static_cast<std::size_t>(unit.cells);
    at += unit.length;
  }
  return cells;
}

bool text_word_character_at(std::string_view text, std::size_t at) {
  const auto byte = static_cast<unsigned char>(text[at]);
  if (!term_text_utf8()) return std::isalnum(byte) != 0;
  const Utf8Character decoded = text_decode_utf8(text, at);
  return decoded.length != 0 && std::iswalnum(static_cast<wint_t>(decoded.code_point)) != 0;
}

std::string_view text_stand_in() { return term_text_utf8() ? "\xEF\xBF\xBD" : "?"; }

namespace {

// A code point as UTF-8.
void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::string text_of_character(char32_t code_point) {
  std::string bytes;
  if (term_text_utf8()) {
    append_utf8(bytes, code_point);
  } else if (code_point < 0x100) {
    bytes.push_back(static_cast<char>(code_point));  // the byte a Latin-1 keyboard sends
  }
  return bytes;
}

std::string text_with_case(std::string_view text, TextCase mode) {
  std::string out;
  out.reserve(text.size());
  bool in_word = false;  // for Capitalize: a letter or digit came just before
  for (std::size_t at = 0; at < text.size();) {
    const bool utf8 = term_text_utf8();
    const Utf8Character decoded = utf8 ? text_decode_utf8(text, at) : Utf8Character{static_cast<unsigned char>(text[at]), 1};
    if (decoded.length == 0) {  // a byte that begins no character: as it is
      out.push_back(text[at++]);
      in_word = false;
      continue;
    }
    const auto c = static_cast<wint_t>(decoded.code_point);
    const bool upper = mode == TextCase::Upper || (mode == TextCase::Capitalize && !in_word);
    wint_t mapped = c;
    if (utf8) {
      mapped = upper ? std::towupper(c) : std::towlower(c);
      in_word = std::iswalnum(c) != 0;
      append_utf8(out, static_cast<char32_t>(mapped));
    } else {
      mapped = static_cast<wint_t>(upper ? std::toupper(static_cast<int>(c)) : std::tolower(static_cast<int>(c)));
      in_word = std::isalnum(static_cast<int>(c)) != 0;
      out.push_back(static_cast<char>(mapped));
    }
    at += decoded.length;
  }
  return out;
}
