// SPDX-License-Identifier: MIT
// Fixtures shared by the tests, the fuzz targets and the benchmarks: an
// invented terminal, an in-memory file record, and the shadow screen as text.
#pragma once

#include <string>

#include "runtime/print/print.h"
#include "runtime/term/term_internal.h"

// While alive, the terminal layer believes it drives a terminal of kind 2
// with xterm-like "cm", "bl", "ve", "vi" and "ks", whose keyboard bytes come
// from reader and whose key strings (if keys is given) from keys. Everything
// it changes in the terminal layer's state is put back afterwards.
class InventedTerminal {
 public:
  explicit InventedTerminal(KeyReader reader, CapabilityLookup keys = nullptr);
  ~InventedTerminal();
  InventedTerminal(const InventedTerminal&) = delete;
  InventedTerminal& operator=(const InventedTerminal&) = delete;

  // Builds the key tree again from another entry.
  static void use_keys(CapabilityLookup keys);

 private:
  Device saved_device_;
  Screen saved_screen_;
};

// A file record whose read operation serves bytes from memory: once, or round
// and round when repeat is set.
struct MemorySource {
  FileRecord record{};      // first member: the read operation finds the source through it
  OperationTable table{};
  std::string data;
  std::size_t position = 0;
  bool repeat = false;

  explicit MemorySource(std::string bytes, bool repeat = false);
  MemorySource(const MemorySource&) = delete;
  MemorySource& operator=(const MemorySource&) = delete;
};

// For fuzz targets: TERM unset, standard input and output on /dev/null, then
// the run-time started as the program starts it.
void start_runtime_quietly();

// The character plane of the shadow screen, a line per row, with '.' for a
// cell never written: for the message of a failing test.
std::string shadow_screen_text();
