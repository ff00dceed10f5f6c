// SPDX-License-Identifier: MIT
// Text as the terminal shows it: units, their cells, and whether they may be sent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// --- Text as the terminal shows it -----------------------------------------

// In a UTF-8 locale a character (a valid
// UTF-8 sequence) takes wcwidth cells, and a byte that begins none is a
// character of one cell; a unit is a character with the zero-width marks
// after it. In any other locale every byte is a unit of one cell.
struct TextUnit {
  std::size_t length;  // bytes
  int cells;
  // It may be sent to the terminal as it is: not a control character (C0,
  // DEL, C1: bytes 0x80 to 0x9F outside UTF-8, U+0080 to U+009F in it), nor
  // in UTF-8 a byte that begins no character or one wcwidth cannot show.
  // Any other is shown as the stand-in, one cell.
  bool showable;
};
bool term_text_utf8();
// The code point of a valid UTF-8 sequence at text[at], and its length;
// length 0 where none begins (a stray byte, an overlong form, a surrogate,
// past U+10FFFF, or cut short by the text's end). Whatever the locale.
struct Utf8Character {
  char32_t code_point;
  std::size_t length;
};
Utf8Character text_decode_utf8(std::string_view text, std::size_t at);
TextUnit text_character_at(std::string_view text, std::size_t at);
TextUnit text_unit_at(std::string_view text, std::size_t at);
std::size_t text_cells(std::string_view text);
// What a unit that may not be sent as it is shows instead: "?", or U+FFFD in UTF-8.
std::string_view text_stand_in();
// Whether the unit at at is a letter or a digit: words are runs of them.
bool text_word_character_at(std::string_view text, std::size_t at);
// The bytes of a character in the locale's text: its UTF-8, outside UTF-8
// a code point below 256 as its byte, else nothing.
std::string text_of_character(char32_t code_point);
// True while bytes are the start of a UTF-8 character still waiting for its last bytes.
bool text_incomplete_character(std::string_view bytes);
// The text with its letters in upper or lower case, or capitalized (a letter
// after no letter or digit in upper case, the others in lower).
enum class TextCase { Upper, Lower, Capitalize };
std::string text_with_case(std::string_view text, TextCase mode);
