// SPDX-License-Identifier: MIT
// The command line's filter as a stream reader: each input of the table
// gives the bytes and messages expected, fed whole, cut at every point, byte
// by byte, and (when long) cut at random points.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/filter.h"
#include "app/options.h"
#include "tests/support/filter_feed.h"

namespace {

FilterOptions options_from(std::vector<std::string> args) {
  args.insert(args.begin(), "tempconv");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  Request request;
  std::string why;
  EXPECT_EQ(parse_options(static_cast<int>(argv.size()), argv.data(), &request, &why), Parsed::Run) << why;
  return request.filter;
}

std::string repeated(char c, std::size_t n) { return std::string(n, c); }

TEST(Filter, GivesTheSameBytesHoweverTheInputIsCut) {
  const std::string long_text = repeated('a', 65530);
  const std::string long_value = repeated('7', 9000);
  const struct {
    std::vector<std::string> args;
    std::string input, out, messages;
  } cases[] = {
      // One value per line: blanks around it, CR LF kept, a last line without its end, a byte-order mark dropped.
      {{"-f", "F", "-t", "C"}, "\xef\xbb\xbf" " 212 \r\n32\nabc\n\n1 2\n-500", "100\r\n0\n\n\n\n\n",
       "3:0:abc:not a number\n4:0::not a number\n5:0:1 2:not a number\n6:0:-500:below absolute zero\n"},
      {{"-f", "F", "-t", "C"}, "\xef\xbb" "212\n", "\n", "1:0:\xef\xbb" "212:not a number\n"},  // not quite a mark
      // A last line without its end gets one; a CR right before the end of the input is its line's.
      {{"-f", "F", "-t", "C"}, "212\r", "100\r\n", ""},
      {{"-f", "F", "-t", "C", "--field=2"}, "a 212\r", "a 100\r\n", ""},
      {{"-f", "F", "-t", "C", "--field=2"}, "a 212", "a 100\n", ""},
      {{"-f", "F", "-t", "C"}, "  " + repeated(' ', 9000) + "212" + repeated('\t', 9000) + "\n", "100\n", ""},
      {{"-f", "F", "-t", "C"}, long_value + "\n32\n", "\n0\n", "1:0:" + long_value.substr(0, 64) + "...:value too long\n"},
      // Fields of blanks: runs of blanks copied, empty cells do not count.
      {{"-f", "F", "-t", "C", "--field", "1,3-"}, "  32\t50   212  212F\r\n\t\n", "  0\t50   100  100\r\n\t\n", ""},
      {{"-f", "F", "-t", "C", "--field", "1-3,2"}, "212 212 212 212\n", "100 100 100 212\n", ""},  // a range inside another
      // A byte-order mark is copied wherever bytes are, and is no part of the first field.
      {{"-f", "F", "-t", "C", "--field=1"}, "\xef\xbb\xbf" "212 x\n", "\xef\xbb\xbf" "100 x\n", ""},
      {{"-f", "F", "-t", "C", "--delimiter=,", "--field=2", "--header=0"}, "\xef\xbb\xbf" "a,50\n",
       "\xef\xbb\xbf" "a,10\n", ""},
      // CSV: quotes hold delimiters and line ends; a quoted value stays quoted; the record's first line is named.
      {{"-f", "F", "-t", "C", "--delimiter=,", "--field=2"},
       "\"Station, 5, North\",212\r\nBergen,\"50\"\n\"two\nlines\",x\n,\" 212 \"\n\"a\"\"b\",\"5\"\"\"\n,\"5\"x\n7,,\n",
       "\"Station, 5, North\",100\r\nBergen,\"10\"\n\"two\nlines\",x\n,\" 100 \"\n\"a\"\"b\",\"5\"\"\"\n,\"5\"x\n7,,\n",
       "3:2:x:not a number\n6:2:5\"\":not a number\n7:2:\"5\"x:not a number\n"},
      {{"-f", "F", "-t", "C", "--delimiter=,", "--field=2"}, "x,\"a\"\"\n,b\",212\nz,q\n", "x,\"a\"\"\n,b\",212\nz,q\n",
       "1:2:a\"\"\n,b:not a number\n3:2:q:not a number\n"},  // a doubled quote in a field past its line
      {{"-f", "F", "-t", "C", "--delimiter=,", "--field=2"}, "a,\"212\nb,32\n", "a,\"212\nb,32\n", "1:2::no closing quote\n"},
      {{"-f", "F", "-t", "C", "--delimiter=,", "--field=1"}, "a,\"212\nb,32\n", "a,\"212\nb,32\n",
       "1:1:a:not a number\n1:2::no closing quote\n"},
      // A value and a chosen field exactly as long as they may be.
      {{"-f", "F", "-t", "C"}, repeated('0', 4093) + "212\n", "100\n", ""},
      {{"-f", "F", "-t", "C", "--delimiter=,", "--field=2"}, "a," + repeated(' ', 4096) + repeated('0', 4093) + "212\n",
       "a," + repeated(' ', 4096) + "100\n", ""},
      // A chosen field too long to be a value is left whole, quoted or not.
      {{"-f", "F", "-t", "C", "--delimiter=,", "--field=2"}, long_text + "," + long_value + "\n5,212",
       long_text + "," + long_value + "\n5,100\n", "1:2:" + long_value.substr(0, 64) + "...:value too long\n"},
      {{"-f", "F", "-t", "C", "--delimiter=,", "--field=2-"}, "x,\"" + long_text + "\",212\n",
       "x,\"" + long_text + "\",100\n", "1:2:\"" + long_text.substr(0, 63) + "...:value too long\n"},
      // Delimiters of several bytes, and tabs; NUL-ended records.
      {{"-f", "F", "-t", "C", "--delimiter=§", "--field=2"}, "\xc2" "a§212§\xc2\xc2§32\n", "\xc2" "a§100§\xc2\xc2§32\n", ""},
      {{"-f", "F", "-t", "C", "--delimiter=tab", "--field=3", "-z"}, std::string("a\t\t212\0b\t\t32\n", 13), std::string("a\t\t100\0b\t\t32\n\0", 14),
       "2:3:32\n:not a number\n"},
      // Columns by name in the last header line (quoted or not); the header's mark kept with it.
      {{"-f", "F", "-t", "C", "--header=2", "--delimiter=;", "--field=\"t\",t2", "--decimal-comma"},
       "\xef\xbb\xbf" "x\n\"\"\"t\"\"\";t2;t\n212;32;50\n50,0;1;2\n1.5;1;2\n",
       "\xef\xbb\xbf" "x\n\"\"\"t\"\"\";t2;t\n100;0;50\n10;-17,2222222222222;2\n1.5;-17,2222222222222;2\n",
       "5:1:1.5:not a number\n"},  // with decimal commas, 1.5 may mean fifteen
      {{"-f", "F", "-t", "C", "--header", "--field=t,u"}, "t u t\n1 2\n", "", "column t twice\n"},
      // A name with a comma, quoted as CSV quotes it; a quoted name read as the header reads it, or as written.
      {{"-f", "F", "-t", "C", "--header", "--delimiter=,", "--field=\"a,b\",\"t \"\"f\"\"\""},
       "x,\"a,b\",t \"f\"\n1,212,32\n", "x,\"a,b\",t \"f\"\n1,100,0\n", ""},
      {{"-f", "F", "-t", "C", "--header", "--field=\"t\""}, "\"t\" u\n212 2\n", "\"t\" u\n100 2\n", ""},
      {{"-f", "F", "-t", "C", "--header", "--delimiter=,", "--field=\"a,c\""}, "\"a,b\"\n1\n", "", "column \"a,c\" missing\n"},
      {{"-f", "F", "-t", "C", "--header", "--field=v"}, "t u\n1 2\n", "", "column v missing\n"},
      // What to do with bad values: leave them quietly, or stop right before the first.
      {{"-f", "F", "-t", "C", "--invalid=ignore", "--delimiter=,", "--field=2"}, "a,NA\nb,212\n", "a,NA\nb,100\n", ""},
      {{"-f", "F", "-t", "C", "--invalid=abort", "--delimiter=,", "--field=2"}, "a,212\nb,NA,c\nd,32\n", "a,100\n",
       "2:2:NA:not a number\n"},
      {{"-f", "F", "-t", "C", "--invalid=abort"}, "212\nNA\n32\n", "100\n", "2:0:NA:not a number\n"},
  };
  std::mt19937 random(20261208);
  for (const auto& c : cases) {
    const FilterOptions options = options_from(c.args);
    const Collected whole = filtered(options, c.input, {});
    EXPECT_EQ(whole.out, c.out) << c.input;
    EXPECT_EQ(whole.messages, c.messages) << c.input;
    // A message comes between rows, never inside one.
    for (std::size_t at = whole.both.find("\n#"); at != std::string::npos; at = whole.both.find("\n#", at + 2)) {
      EXPECT_TRUE(at == 0 || whole.both[at - 1] == '\n' || whole.both[at - 1] == options.terminator)
          << "a message inside a row: " << ::testing::PrintToString(whole.both.substr(0, at + 2));
    }
    std::vector<std::vector<std::size_t>> cut_sets;
    if (c.input.size() <= 300) {
      std::vector<std::size_t> every_byte;
      for (std::size_t at = 1; at < c.input.size(); ++at) {
        cut_sets.push_back({at});
        every_byte.push_back(at);
      }
      cut_sets.push_back(every_byte);
    } else {
      for (int trial = 0; trial < 40; ++trial) {
        std::vector<std::size_t> cuts;
        for (int i = 0; i < 12; ++i) cuts.push_back(std::uniform_int_distribution<std::size_t>(1, c.input.size() - 1)(random));
        std::sort(cuts.begin(), cuts.end());
        cut_sets.push_back(cuts);
      }
    }
    for (const auto& cuts : cut_sets) {
      const Collected cut = filtered(options, c.input, cuts);
      if (cut.both != whole.both) {
        ADD_FAILURE() << "cut at " << cuts.front() << " (" << cuts.size() << " cuts) of " << c.input.substr(0, 80)
                      << "\ngives " << cut.out.substr(0, 200) << "\n" << cut.messages;
        break;
      }
    }
  }
}

}  // namespace
