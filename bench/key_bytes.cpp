// SPDX-License-Identifier: MIT
// The bytes and writes each key costs on the wire, beside readline's: the
// converter's Fahrenheit prompt and bash's `read -e` with the same prompt,
// each on a pseudo-terminal (xterm) under strace, typing 2 1 2 Left 9
// Backspace Home End one key at a time and reading what comes back until
// the line is quiet; the writes are the write() calls strace saw meanwhile.
//
//   build/bench/key_bytes [program]     (default build/tempconv; needs bash and strace)
#include <poll.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/pty.h"

namespace {

const std::string kPrompt = "Input temperature in Fahrenheit: ";

struct Key {
  const char* name;
  const char* bytes;
};
constexpr Key kKeys[] = {{"2", "2"},         {"1", "1"},       {"2", "2"},           {"Left", "\033[D"},
                         {"9", "9"},         {"Backspace", "\177"}, {"Home", "\033[H"}, {"End", "\033[F"}};

struct Cost {
  std::size_t bytes = 0;
  int writes = 0;
};

// The bytes that arrive until nothing has for quiet_ms.
std::size_t bytes_until_quiet(int fd, int quiet_ms) {
  std::size_t bytes = 0;
  char buffer[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, quiet_ms) <= 0) break;
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    bytes += static_cast<std::size_t>(got);
  }
  return bytes;
}

// The write() calls to the terminal (descriptors 1 and 2) strace has logged so far.
int writes_logged(const std::string& trace) {
  std::ifstream in(trace);
  int writes = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find("write(1,") != std::string::npos || line.find("write(2,") != std::string::npos) ++writes;
  }
  return writes;
}

std::vector<Cost> costs_of(PtySession& session, const std::string& trace) {
  std::vector<Cost> costs;
  for (const Key& key : kKeys) {
    const int before = writes_logged(trace);
    session.type(key.bytes);
    const std::size_t bytes = bytes_until_quiet(session.master(), 200);
    costs.push_back({bytes, writes_logged(trace) - before});
  }
  return costs;
}

// A script that runs the command under strace, logging its writes to trace.
std::string traced(const std::string& folder, const std::string& name, const std::string& command,
                   const std::string& trace) {
  const std::string script = folder + "/" + name;
  std::ofstream out(script);
  out << "#!/bin/sh\nexec strace -f -qq -e trace=write -e signal=none -o " << trace << " " << command << "\n";
  out.close();
  chmod(script.c_str(), 0700);
  return script;
}

// The traced script on an emulated xterm, in a UTF-8 locale.
PtyOptions session_for(const std::string& script) {
  PtyOptions options;
  options.env = {"TERM=xterm", "LC_ALL=C.UTF-8"};
  options.emulate = true;
  options.program = script;
  return options;
}

std::vector<Cost> converter(const std::string& script, const std::string& trace) {
  PtySession session(session_for(script));
  if (!session.wait_for("? ", 10000)) return {};
  session.settle(300);
  session.type("1\r");
  if (!session.wait_for(kPrompt, 10000)) return {};
  session.settle(1500);  // a program that asks at every prompt has had its answer
  std::vector<Cost> costs = costs_of(session, trace);
  session.type("\r3\r");
  session.wait_for_exit(5000);
  return costs;
}

std::vector<Cost> readline(const std::string& script, const std::string& trace) {
  PtySession session(session_for(script));
  if (!session.wait_for(kPrompt, 10000)) {
    std::fprintf(stderr, "bash wrote: %s\n%s\n", session.output().c_str(), session.stderr_text().c_str());
    return {};
  }
  session.settle(300);
  std::vector<Cost> costs = costs_of(session, trace);
  session.type("\r");
  session.wait_for_exit(5000);
  return costs;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string program = argc > 1 ? argv[1] : "build/tempconv";
  char folder[] = "/tmp/key_bytes.XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const std::string dir = folder;
  // readline draws on standard error: here the terminal, as in a shell.
  const std::string read_e = traced(dir, "read-e",
                                    "bash --norc --noprofile -c 'read -e -r -p \"" + kPrompt + "\" line' 2>&1",
                                    dir + "/read-e.trace");
  const std::string ours_script = traced(dir, "tempconv", program, dir + "/tempconv.trace");
  const std::vector<Cost> ours = converter(ours_script, dir + "/tempconv.trace");
  const std::vector<Cost> theirs = readline(read_e, dir + "/read-e.trace");
  for (const char* name : {"read-e", "read-e.trace", "tempconv", "tempconv.trace"}) unlink((dir + "/" + name).c_str());
  rmdir(folder);
  if (ours.size() != std::size(kKeys) || theirs.size() != std::size(kKeys)) {
    std::fprintf(stderr, "key_bytes: %s did not come to its prompt\n", ours.empty() ? program.c_str() : "bash");
    return 1;
  }
  std::printf("%-10s | tempconv bytes writes | readline bytes writes\n", "key");
  Cost our_total, their_total;
  for (std::size_t i = 0; i < std::size(kKeys); ++i) {
    std::printf("%-10s | %14zu %6d | %14zu %6d\n", kKeys[i].name, ours[i].bytes, ours[i].writes, theirs[i].bytes,
                theirs[i].writes);
    our_total.bytes += ours[i].bytes;
    our_total.writes += ours[i].writes;
    their_total.bytes += theirs[i].bytes;
    their_total.writes += theirs[i].writes;
  }
  std::printf("%-10s | %14zu %6d | %14zu %6d\n", "all", our_total.bytes, our_total.writes, their_total.bytes,
              their_total.writes);
  std::printf("tempconv/readline bytes: %.2f\n",
              their_total.bytes != 0 ? static_cast<double>(our_total.bytes) / static_cast<double>(their_total.bytes) : 0.0);
  return 0;
}
