// SPDX-License-Identifier: MIT
// The write path: what reaches standard output, column tracking, print zones,
// line-end flags, error codes and the discarding of pushback bytes.
#include <string>

#include <gtest/gtest.h>

#include "runtime/core/core.h"
#include "runtime/print/print_internal.h"
#include "tests/support/capture.h"

namespace {

class ConsoleOutput : public ::testing::Test {
 protected:
  void SetUp() override { reset_console(); }
  FileRecord& console() { return *record_for_file(0); }
  CapturedStdout out;
};

TEST_F(ConsoleOutput, ConsoleIsSetUpOnFirstPrintWithTerminalGeometry) {
  EXPECT_FALSE(console_is_set_up());
  print_string(0, "x", 0);
  EXPECT_TRUE(console_is_set_up());
  EXPECT_EQ(console().width, 80);
  EXPECT_EQ(console().column, 1);
  EXPECT_EQ(console_operations()->write, console_write);
  EXPECT_EQ(console_operations()->read, nullptr);
}

TEST_F(ConsoleOutput, LineEndFlagsTakeOneActionByPriority) {
  print_string(0, "a", PRINT_CRLF | PRINT_NEWLINE | PRINT_ZONE);
  print_string(0, "b", PRINT_NEWLINE | PRINT_ZONE);
  print_string(0, "", PRINT_NEWLINE);  // an empty text still ends the line
  print_text(0, nullptr, PRINT_NEWLINE);
  print_string(0, std::string_view("n\0l", 3), 0);  // embedded NUL bytes are written too
  print_line_end(0, 0);
  EXPECT_EQ(out.text(), std::string("a\r\nb\n\n\nn\0l", 10));
}

TEST_F(ConsoleOutput, ColumnFollowsTheLastLineEnd) {
  print_string(0, "ab", 0);
  print_string(0, "\n", 0);
  print_string(0, "cd", 0);
  EXPECT_EQ(console().column, 2);
  print_string(0, "xy\r", 0);
  EXPECT_EQ(console().column, 0);
  console().column = 77;  // 1-based column 78
  print_string(0, "abc", 0);
  EXPECT_EQ(console().column, 0);  // 80 is reduced modulo the width
  console().column = 78;
  print_string(0, "abc", 0);
  EXPECT_EQ(console().column, 1);
}

TEST_F(ConsoleOutput, ColumnGrowsWithoutLimitWhenWidthIsZero) {
  console_setup();
  console().width = 0;
  console().column = 100;
  print_string(0, "abc", 0);
  EXPECT_EQ(console().column, 103);
}

TEST_F(ConsoleOutput, PrintZonesAreFourteenColumnsWide) {
  console_setup();
  const struct {
    int32_t column;  // 0-based
    int32_t width;
    std::string written;
  } cases[] = {
      {0, 80, std::string(14, ' ')}, {13, 80, " "},  {14, 80, std::string(14, ' ')},
      {70, 80, "\n"},                {70, 0, std::string(14, ' ')},
      {83, 0, " "},                  {14, 29, std::string(14, ' ')},  // the next zone begins in the last column
  };
  for (const auto& c : cases) {
    CapturedStdout zone_out;
    console().column = c.column;
    console().width = c.width;
    print_line_end(0, PRINT_ZONE);
    EXPECT_EQ(zone_out.text(), c.written) << "column " << c.column << " width " << c.width;
  }
}

TEST_F(ConsoleOutput, ZoneBlanksStayWithinTheBufferForAnyColumn) {
  console_setup();
  console().width = 0;
  console().column = -5;  // a column that wrapped past 2^31
  CapturedStdout zone_out;
  print_line_end(0, PRINT_ZONE);
  EXPECT_LE(zone_out.text().size(), 14u);
  EXPECT_GE(zone_out.text().size(), 1u);
}

TEST_F(ConsoleOutput, FilesWithoutAnOpenRecordWriteNothingAndReportCode1) {
  console_setup();
  for (int32_t file : {256, -2, 5, -1, 255}) {
    set_error(0);
    print_string(file, "lost", PRINT_NEWLINE);
    EXPECT_EQ(get_error(), ERROR_NOT_AVAILABLE) << file;
    set_error(0);
    print_line_end(file, PRINT_ZONE);
    EXPECT_EQ(get_error(), ERROR_NOT_AVAILABLE) << file;
  }
  EXPECT_EQ(out.text(), "");
}

TEST(FileWrite, MissingWriteOperationIsCode1AndLeavesTheColumn) {
  OperationTable table{};
  FileRecord record{};
  record.operation_table = &table;
  record.column = 4;
  EXPECT_EQ(file_write(&record, "abc", 3), ERROR_NOT_AVAILABLE);
  EXPECT_EQ(get_error(), ERROR_NOT_AVAILABLE);
  EXPECT_EQ(record.column, 4);
  EXPECT_EQ(file_write(nullptr, "abc", 3), ERROR_NOT_AVAILABLE);
}

TEST(FileWrite, AFailingWriteOperationKeepsItsCodeAndTheColumn) {
  OperationTable table{};
  table.write = [](FileRecord*, const void*, std::size_t) { return int32_t{5}; };
  FileRecord record{};
  record.operation_table = &table;
  EXPECT_EQ(file_write(&record, "abc", 3), 5);
  EXPECT_EQ(get_error(), 5);
  EXPECT_EQ(record.column, 0);
  set_error(0);
}

}  // namespace
