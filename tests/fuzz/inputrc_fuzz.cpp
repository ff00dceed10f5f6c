// SPDX-License-Identifier: MIT
// The inputrc reader on arbitrary text: it ends, however the text nests
// $if and $include (every included file is the text itself), and a
// binding's keys are never empty.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "runtime/input/inputrc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  InputrcContext context;
  context.term = "xterm-256color";
  context.read_file = [&text](const std::string&) -> std::optional<std::string> { return text; };
  const Inputrc read = read_inputrc(text, context);
  for (const InputrcBinding& binding : read.bindings) {
    if (binding.keys.empty()) std::abort();
  }
  return 0;
}
