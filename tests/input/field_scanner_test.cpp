// SPDX-License-Identifier: MIT
// The field scanner on both sources: separators, quotes, line ends, the
// length limit, pushback and the end of the input.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/core/core.h"
#include "runtime/input/input_internal.h"
#include "tests/support/capture.h"

namespace {

struct Field {
  std::string text;
  bool float_mark;
};

// Scans count fields from the current INPUT context.
std::vector<Field> scan(InputContext* context, int count) {
  std::vector<Field> fields;
  for (int i = 0; i < count; ++i) {
    char buffer[FIELD_BUFFER];
    const FieldScan f = scan_field(context, buffer, FIELD_LIMIT);
    EXPECT_EQ(buffer[f.length], '\0');
    fields.push_back({std::string(buffer, static_cast<std::size_t>(f.length)), f.float_mark});
  }
  return fields;
}

std::vector<std::string> texts(const std::string& input, int count) {
  RedirectedInput in(input);
  std::vector<std::string> result;
  for (const Field& f : scan(in.context(), count)) result.push_back(f.text);
  return result;
}

using Texts = std::vector<std::string>;

TEST(FieldScanner, SeparatorsAndLineEnds) {
  const struct {
    const char* input;
    int fields;
    Texts expected;
  } cases[] = {
      {"1 2\n", 2, {"1", "2"}},
      {"1,2\n", 2, {"1", "2"}},
      {"  \t7 \t \n8", 2, {"7", "8"}},       // blanks around a field, LF consumed
      {",5\n", 2, {"", "5"}},                  // leading comma: an empty field
      {"\n\n3", 3, {"", "", "3"}},             // empty lines are empty fields
      {"1\r\n2\r3\r", 4, {"1", "2", "3", ""}}, // CR LF, lone CR; a final CR invents nothing
      {"4 \r\n5", 2, {"4", "5"}},              // blanks, then CR LF after a field
      {"4 ,5", 2, {"4", "5"}},                 // blanks then comma: one separator
      {"1 2 3", 3, {"1", "2", "3"}},
      {"", 2, {"", ""}},                       // end of input, again and again
  };
  for (const auto& c : cases) EXPECT_EQ(texts(c.input, c.fields), c.expected) << c.input;
}

TEST(FieldScanner, Quotes) {
  const struct {
    const char* input;
    int fields;
    Texts expected;
  } cases[] = {
      {"\"a b,c\"\n", 1, {"a b,c"}},
      {"\"ab\"c,x", 2, {"abc", "x"}},      // a closing quote does not end the field
      {"a\"b\n", 1, {"a\"b"}},             // a quote after the first byte is stored
      {"\" 3\"", 1, {" 3"}},
      {"\"open, never shut", 1, {"open, never shut"}},
      {"\"d, too\"", 1, {"e, too"}},    // exponent letters are rewritten inside quotes too
      {"\"a\nb\"", 2, {"a", "b\""}},        // LF ends a field even inside quotes
      {"\"\"\"x\"", 1, {"x"}},              // empty quotes, then quotes again at length 0
  };
  for (const auto& c : cases) EXPECT_EQ(texts(c.input, c.fields), c.expected) << c.input;
}

TEST(FieldScanner, FloatMarkAndExponentLetters) {
  const struct {
    const char* input;
    const char* text;
    bool float_mark;
  } cases[] = {
      {"ad", "ae", true},      {"1D2", "1E2", true}, {"&HE", "&HE", false},
      {"&h1d", "&h1d", false}, {"1.5", "1.5", true}, {"12", "12", false},
      {"xd&d.e", "xe&d.e", true},  // 'd' after '&' stays, '.' and 'e' no longer mark
  };
  for (const auto& c : cases) {
    RedirectedInput in(c.input);
    const Field f = scan(in.context(), 1)[0];
    EXPECT_EQ(f.text, c.text) << c.input;
    EXPECT_EQ(f.float_mark, c.float_mark) << c.input;
  }
}

TEST(FieldScanner, LimitOf67BytesPushesTheNextByteBack) {
  const std::string digits(70, '9');
  const Texts fields = texts(digits + "\n5", 3);
  EXPECT_EQ(fields, (Texts{std::string(67, '9'), "999", "5"}));
  // Exactly at the limit, the separator that follows is still taken as one.
  EXPECT_EQ(texts(std::string(67, '1') + "  ,2", 2), (Texts{std::string(67, '1'), "2"}));
  EXPECT_EQ(texts(std::string(67, '1') + "\"x", 2), (Texts{std::string(67, '1'), "x"}));
}

TEST(FieldScanner, AnyByteIsAFieldByte) {
  const std::string bytes("\xff\x80\x00\x01z", 5);
  EXPECT_EQ(texts(bytes + "\n", 1), Texts{bytes});
}

TEST(FieldScanner, EndOfInputOnlyWhenNoByteAtAllIsLeft) {
  RedirectedInput in(" \n");
  char buffer[FIELD_BUFFER];
  EXPECT_FALSE(scan_field(in.context(), buffer, FIELD_LIMIT).at_end);  // a line of blanks
  EXPECT_TRUE(scan_field(in.context(), buffer, FIELD_LIMIT).at_end);
  EXPECT_TRUE(scan_field(in.context(), buffer, FIELD_LIMIT).at_end);
}

TEST(FieldScanner, PushedBackByteIsServedFirstAndKeptAcrossWrites) {
  RedirectedInput in("1 212 3\n");
  const Texts first = {scan(in.context(), 1)[0].text, scan(in.context(), 1)[0].text};
  EXPECT_EQ(first, (Texts{"1", "212"}));
  EXPECT_EQ(in.source.record.pushback_count, 1u);  // the 3
  in.source.table.write = [](FileRecord*, const void*, std::size_t) { return int32_t{0}; };
  file_write(&in.source.record, "C= ", 3);
  EXPECT_EQ(scan(in.context(), 1)[0].text, "3");  // printing the result loses no input
}

TEST(Pushback, HoldsFourBytesMostRecentFirst) {
  MemorySource source("");
  const uint8_t ab[] = {'a', 'b'};
  const uint8_t c = 'c';
  EXPECT_EQ(file_push_back(&source.record, ab, 2), 0);
  EXPECT_EQ(file_push_back(&source.record, &c, 1), 0);
  EXPECT_EQ(file_push_back(&source.record, ab, 2), ERROR_PUSHBACK_FULL);
  EXPECT_EQ(source.record.pushback_count, 3u);
  char got[4] = {};
  std::size_t delivered = 0;
  EXPECT_EQ(file_read(&source.record, got, 4, &delivered), 0);
  EXPECT_EQ(delivered, 3u);
  EXPECT_EQ(std::string(got, 3), "cab");
  FileRecord closed{};
  EXPECT_EQ(file_push_back(&closed, &c, 1), ERROR_NOT_AVAILABLE);
}

TEST(EditedLineSource, FieldsComeFromTheLineAndPushbackStepsBack) {
  EditedLine line("1 2,3");
  InputContext* context = line.context();
  EXPECT_EQ(scan(context, 3)[2].text, "3");
  char buffer[FIELD_BUFFER];
  EXPECT_FALSE(scan_field(context, buffer, FIELD_LIMIT).at_end);  // an empty line is not the end
  push_back_char(context, 'x');
  EXPECT_EQ(context->read_position, 4);
}

TEST(EditedLineSource, EndOnlyWhenTheEditorMetTheEndOfInput) {
  EditedLine ended("", true);
  char buffer[FIELD_BUFFER];
  EXPECT_TRUE(scan_field(ended.context(), buffer, FIELD_LIMIT).at_end);
}

}  // namespace
