// SPDX-License-Identifier: MIT
// Runs a command the given number of times, its standard input and output on
// /dev/null (or the files given), and prints the median wall time of one run
// in milliseconds.
//
//   build/bench/repeat <runs> [<input file] [>output file] command [arguments...]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: repeat <runs> [<input] [>output] command [arguments...]\n");
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  std::string input = "/dev/null", output = "/dev/null";
  int first = 2;
  for (; first < argc && (argv[first][0] == '<' || argv[first][0] == '>'); ++first)
    (argv[first][0] == '<' ? input : output) = argv[first] + 1;
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[first], &actions, nullptr, argv + first, environ) != 0) return 1;
    int status = 0;
    waitpid(pid, &status, 0);
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    posix_spawn_file_actions_destroy(&actions);
  }
  std::sort(times.begin(), times.end());
  std::printf("%.3f\n", times[times.size() / 2]);
  return 0;
}
