// SPDX-License-Identifier: MIT
// The command line's filter fed whole against the same input fed in pieces:
// the bytes out and the messages must be the same. The first byte picks the
// options, the next four where the input is cut; the rest is the input,
// each byte standing for one of a few pieces of CSV (quotes, delimiters, CR,
// line ends, NUL, digits, a long run, the bytes of § and a byte-order mark).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/filter.h"
#include "app/options.h"
#include "tests/support/filter_feed.h"

namespace {

FilterOptions options_for(uint8_t bits) {
  static const char* const kDelimiters[] = {"--delimiter=,", "--delimiter=;", "--delimiter=tab", "--delimiter=§"};
  static const char* const kFields[] = {"--field=2", "--field=1,3-", "--field=-2", "--field=b,1"};
  static const char* const kInvalid[] = {"--invalid=fail", "--invalid=abort"};
  std::vector<std::string> args = {"tempconv", "-f", "F", "-t", "C"};
  if ((bits & 3) != 3 || (bits & 0x10) != 0) {  // fields; else one value per line
    args.emplace_back((bits & 0x10) != 0 ? kFields[3] : kFields[bits & 3]);
    if ((bits & 4) != 0) args.emplace_back(kDelimiters[(bits >> 5) & 3]);
  }
  if ((bits & 0x18) != 0) args.emplace_back("--header");
  if ((bits & 0x80) != 0) args.emplace_back("-z");
  args.emplace_back(kInvalid[(bits >> 3) & 1]);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  Request request;
  std::string why;
  if (parse_options(static_cast<int>(argv.size()), argv.data(), &request, &why) != Parsed::Run) std::abort();
  return request.filter;
}

std::string input_from(const uint8_t* data, std::size_t size) {
  static const char* const kPieces[] = {"\"", "\"", ",", ";", "\t", "\r", "\n", "\n", "" /* NUL */,
                                        " ", "1", "2", "12", ".5", "e3", "-", "a", "b", "F", "\xc2\xa7", "\xc2",
                                        "\xef\xbb\xbf", "\xef\xbb", "0", "212", "\r\n"};
  constexpr std::size_t kCount = std::size(kPieces);
  std::string input;
  for (std::size_t i = 0; i < size; ++i) {
    const uint8_t b = data[i];
    if (b == 0xFF) {
      input.append(9000, '7');  // longer than a field is held
    } else if (b % kCount == 8) {
      input.push_back('\0');
    } else {
      input.append(kPieces[b % kCount]);
    }
  }
  return input;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 5 || size > 2000) return 0;
  const FilterOptions options = options_for(data[0]);
  const std::string input = input_from(data + 5, size - 5);
  std::vector<std::size_t> cuts;
  for (int i = 1; i < 5 && !input.empty(); ++i) cuts.push_back(data[i] * input.size() / 256);
  if (filtered(options, input, {}).both != filtered(options, input, cuts).both) std::abort();
  return 0;
}
