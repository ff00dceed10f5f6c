#include "tests/support/process.h"

#include "tests/support/program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Feeds the child's input and collects its output until both are done.
ProcessResult run_with_feeder(const std::vector<std::string>& env,
                              std::size_t (*generate)(char*, std::size_t, void*), void* state) {
  signal(SIGPIPE, SIG_IGN);
  Pipe in, out, err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.read_end, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write_end, 1);
  posix_spawn_file_actions_adddup2(&actions, err.write_end, 2);
  std::vector<std::string> env_strings = program_environment(env);
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> command = program_command();
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  ProcessResult result;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) return result;
  posix_spawn_file_actions_destroy(&actions);
  close(in.read_end);
  close(out.write_end);
  close(err.write_end);
  fcntl(in.write_end, F_SETFL, O_NONBLOCK);

  std::vector<char> pending;
  std::size_t pending_at = 0;
  bool input_open = true;
  int open_outputs = 2;
  char buffer[65536];
  while (open_outputs > 0) {
    if (input_open && pending_at == pending.size()) {
      pending.resize(sizeof buffer);
      pending.resize(generate(pending.data(), pending.size(), state));
      pending_at = 0;
      if (pending.empty()) {
        close(in.write_end);
        input_open = false;
      }
    }
    pollfd fds[3] = {{out.read_end, POLLIN, 0}, {err.read_end, POLLIN, 0},
                     {input_open ? in.write_end : -1, POLLOUT, 0}};
    if (poll(fds, 3, 60000) <= 0) break;  // a hung child: give up, the test then fails
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(got));
      } else {
        close(fds[i].fd);
        (i == 0 ? out.read_end : err.read_end) = -1;
        --open_outputs;
      }
    }
    if (input_open && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t put = write(in.write_end, pending.data() + pending_at, pending.size() - pending_at);
      if (put > 0) {
        pending_at += static_cast<std::size_t>(put);
      } else if (errno != EAGAIN) {
        close(in.write_end);  // the child stopped reading
        input_open = false;
      }
    }
  }
  if (input_open) close(in.write_end);
  if (out.read_end >= 0) close(out.read_end);
  if (err.read_end >= 0) close(err.read_end);
  if (open_outputs > 0) kill(pid, SIGKILL);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.max_rss_kib = usage.ru_maxrss;
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
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

ProcessResult run_program(const std::string& input, const std::vector<std::string>& env) {
  FixedInput state{&input, 0};
  return run_with_feeder(env, generate_fixed, &state);
}

ProcessResult run_program_streaming(std::size_t (*generate)(char*, std::size_t, void*), void* state) {
  return run_with_feeder({}, generate, state);
}
