// SPDX-License-Identifier: MIT
#include "tests/support/process.h"

#include "tests/support/program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace {

struct Pipe {
  int read_end = -1;
  int write_end = -1;
  Pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) == 0) {
      read_end = fds[0];
      write_end = fds[1];
    }
  }
};

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Starts the program with the given file actions; -1 if it cannot be started.
pid_t spawn_program(posix_spawn_file_actions_t* actions, const RunOptions& options) {
  signal(SIGPIPE, SIG_IGN);  // inherited: a write to a closed pipe fails with EPIPE instead
  std::vector<std::string> env_strings = program_environment(options.env);
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> command = program_command();
  command.insert(command.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), envp.data()) != 0) return -1;
  return pid;
}

struct FixedInput {
  const std::string* text;
  std::size_t at;
};

std::size_t generate_fixed(char* buffer, std::size_t size, void* state) {
  auto* input = static_cast<FixedInput*>(state);
  const std::size_t count = std::min(size, input->text->size() - input->at);
  std::memcpy(buffer, input->text->data() + input->at, count);
  input->at += count;
  return count;
}

}  // namespace

ProcessResult run_program(const std::string& input, const RunOptions& options) {
  FixedInput fixed{&input, 0};
  const InputGenerator generate = options.generate != nullptr ? options.generate : generate_fixed;
  void* state = options.generate != nullptr ? options.generator_state : &fixed;
  ProcessResult result;
  Pipe in, out, err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.stdin_path.empty()) {
    posix_spawn_file_actions_adddup2(&actions, in.read_end, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, options.stdin_path.c_str(), O_RDONLY, 0);
  }
  if (options.stdout_closed) {
    posix_spawn_file_actions_addclose(&actions, 1);
  } else if (!options.stdout_path.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  } else {
    posix_spawn_file_actions_adddup2(&actions, out.write_end, 1);
  }
  posix_spawn_file_actions_adddup2(&actions, options.stderr_to_stdout ? out.write_end : err.write_end, 2);
  const pid_t pid = spawn_program(&actions, options);
  posix_spawn_file_actions_destroy(&actions);
  close_fd(in.read_end);
  close_fd(out.write_end);
  close_fd(err.write_end);
  if (pid < 0) return result;
  if (!options.stdout_path.empty() || options.stdout_closed) close_fd(out.read_end);
  if (!options.stdin_path.empty()) close_fd(in.write_end);
  if (in.write_end >= 0) fcntl(in.write_end, F_SETFL, O_NONBLOCK);

  // Feeds standard input and collects the output until both outputs are done.
  std::vector<char> pending;
  std::size_t pending_at = 0;
  char buffer[65536];
  while (out.read_end >= 0 || err.read_end >= 0) {
    if (in.write_end >= 0 && pending_at == pending.size()) {
      pending.resize(sizeof buffer);
      pending.resize(generate(pending.data(), pending.size(), state));
      pending_at = 0;
      if (pending.empty()) close_fd(in.write_end);
    }
    pollfd fds[3] = {{out.read_end, POLLIN, 0}, {err.read_end, POLLIN, 0}, {in.write_end, POLLOUT, 0}};
    if (poll(fds, 3, 60000) <= 0) break;  // a hung child: give up, the test then fails
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      std::string& text = i == 0 ? result.out : result.err;
      if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
      if (got <= 0 || (i == 0 && text.size() >= options.stop_reading_after)) close_fd(i == 0 ? out.read_end : err.read_end);
    }
    if (in.write_end >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t put = write(in.write_end, pending.data() + pending_at, pending.size() - pending_at);
      if (put > 0) {
        pending_at += static_cast<std::size_t>(put);
        result.input_written += static_cast<std::size_t>(put);
      } else if (errno != EAGAIN) {
        close_fd(in.write_end);  // the program stopped reading
      }
    }
  }
  const bool hung = out.read_end >= 0 || err.read_end >= 0;
  close_fd(in.write_end);
  close_fd(out.read_end);
  close_fd(err.read_end);
  if (hung) kill(pid, SIGKILL);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.max_rss_kib = usage.ru_maxrss;
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

Coprocess::Coprocess(const std::vector<std::string>& args) {
  Pipe in, out;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.read_end, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write_end, 1);
  RunOptions options;
  options.args = args;
  pid_ = spawn_program(&actions, options);
  posix_spawn_file_actions_destroy(&actions);
  close_fd(in.read_end);
  close_fd(out.write_end);
  to_program_ = in.write_end;
  from_program_ = out.read_end;
}

Coprocess::~Coprocess() {
  close_fd(to_program_);
  close_fd(from_program_);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void Coprocess::write(const std::string& text) { (void)!::write(to_program_, text.data(), text.size()); }

bool Coprocess::read_until(const std::string& text, int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (output_.find(text) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{from_program_, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    char buffer[4096];
    const ssize_t got = read(from_program_, buffer, sizeof buffer);
    if (got <= 0) return false;
    output_.append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

int Coprocess::wait() {
  close_fd(to_program_);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
