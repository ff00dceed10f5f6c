// SPDX-License-Identifier: MIT
#include "tests/support/pty.h"

#include "tests/support/program.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termcap.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

std::vector<char*> pointers_to(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// In the session leader: start the program as a foreground job and report its pid.
[[noreturn]] void run_leader(const PtyOptions& options, int slave, int report, int stdin_pipe,
                             int stdout_pipe, int stderr_pipe, char** envp) {
  setsid();
  ioctl(slave, TIOCSCTTY, 0);
  const pid_t program = fork();
  if (program == 0) {
    setpgid(0, 0);
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);  // fatal-signal tests must not leave core files
    // The program starts as a shell starts it, whatever the test process
    // ignores or blocks: every disposition at its default, none blocked,
    // but for the ones the test asks to be ignored.
    for (int signal = 1; signal < NSIG; ++signal) ::signal(signal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal : options.ignored_signals) ::signal(signal, SIG_IGN);
    dup2(stdin_pipe >= 0 ? stdin_pipe : slave, 0);
    dup2(stdout_pipe >= 0 ? stdout_pipe : slave, 1);
    dup2(stderr_pipe, 2);
    for (int fd = 3; fd < 256; ++fd) close(fd);
    std::vector<std::string> command = program_command();
    if (!options.program.empty()) command = {options.program};
    std::vector<char*> argv;
    for (std::string& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    environ = envp;
    execvp(argv[0], argv.data());
    _exit(127);
  }
  setpgid(program, program);
  if (!options.background) tcsetpgrp(slave, program);
  signal(SIGHUP, SIG_IGN);  // a hang-up is the program's to meet; the leader waits for it
  (void)!write(report, &program, sizeof program);
  int status = 0;
  while (waitpid(program, &status, 0) < 0 && errno == EINTR) {
  }
  if (options.linger_ms > 0) {
    // What arrives for the terminal after the program ended, and stays unread.
    usleep(static_cast<useconds_t>(options.linger_ms) * 1000);
    signal(SIGTTOU, SIG_IGN);
    tcsetpgrp(slave, getpgrp());  // the terminal's reader now, as the shell would be
    termios raw{};
    tcgetattr(slave, &raw);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON);  // a line not ended is readable too, as readline reads it
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
    char left[4096];
    const ssize_t got = read(slave, left, sizeof left);
    if (got > 0) (void)!write(report, left, static_cast<std::size_t>(got));
  }
  close(report);
  _exit(WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status));
}

}  // namespace

bool read_arrived(int fd, std::string& into, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  if (fd < 0 || poll(&p, 1, timeout_ms) <= 0) return false;
  char buffer[4096];
  const ssize_t got = read(fd, buffer, sizeof buffer);
  if (got <= 0) return false;
  into.append(buffer, static_cast<std::size_t>(got));
  return true;
}

std::string read_all_arrived(int fd, int quiet_ms) {
  std::string text;
  while (read_arrived(fd, text, quiet_ms)) {
  }
  return text;
}

PtySession::PtySession(PtyOptions options) : options_(std::move(options)) {
  if (options_.emulate) {
    screen_ = std::make_unique<VtScreen>(options_.columns, options_.rows);
    screen_->feed(options_.screen_before);
  }
  winsize size{};
  size.ws_col = static_cast<unsigned short>(options_.columns);
  size.ws_row = static_cast<unsigned short>(options_.rows);
  if (openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) return;
  tcgetattr(slave_, &initial_modes_);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);  // writes never wait: see type()
  int report[2], err[2], out[2] = {-1, -1}, in[2] = {-1, -1};
  if (pipe(report) != 0 || pipe(err) != 0) return;
  if (options_.stdout_to_pipe && pipe(out) != 0) return;
  if (options_.stdin_from_pipe && pipe(in) != 0) return;
  std::vector<std::string> storage = program_environment(options_.env);
  std::vector<char*> envp = pointers_to(storage);
  leader_pid_ = fork();
  if (leader_pid_ == 0) {
    close(master_);
    run_leader(options_, slave_, report[1], in[0], out[1], err[1], envp.data());
  }
  close(report[1]);
  close(err[1]);
  stderr_pipe_ = err[0];
  if (out[1] >= 0) close(out[1]);
  stdout_pipe_ = out[0];
  if (in[0] >= 0) {
    close(in[0]);
    (void)!write(in[1], options_.stdin_text.data(), options_.stdin_text.size());
    close(in[1]);
  }
  if (read(report[0], &program_pid_, sizeof program_pid_) != sizeof program_pid_) program_pid_ = -1;
  left_pipe_ = report[0];
}

PtySession::~PtySession() {
  if (leader_pid_ > 0 && !exited_) {
    if (program_pid_ > 0) kill(program_pid_, SIGKILL);
    kill(leader_pid_, SIGKILL);
    waitpid(leader_pid_, nullptr, 0);
  }
  for (int fd : {master_, slave_, stderr_pipe_, stdout_pipe_, left_pipe_}) {
    if (fd >= 0) close(fd);
  }
}

// Keys typed while a reply is half sent come after its rest: a terminal's
// bytes stay in order however the link splits them.
void PtySession::type(std::string_view bytes) {
  if (reply_split_open_) {
    replies_.push_back({replies_.back().due, std::string(bytes)});
    return;
  }
  send(bytes);
}

// Writes the bytes as the terminal sends them. A long paste fills the pty's
// input queue: what the program echoes meanwhile is read, or both would wait.
void PtySession::send(std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    pollfd p{master_, POLLOUT | POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) break;
    if (p.revents & POLLIN) read_some(0);
    if (!(p.revents & POLLOUT)) continue;
    const ssize_t put = write(master_, bytes.data() + done, std::min<std::size_t>(bytes.size() - done, 4096));
    if (put <= 0) break;
    done += static_cast<std::size_t>(put);
  }
}

bool PtySession::send_due_replies() {
  bool sent = false;
  while (!replies_held_ && !replies_.empty() && replies_.front().due <= Clock::now()) {
    const Reply reply = std::move(replies_.front());  // taken first: sending reads, which sends what is due
    replies_.pop_front();
    reply_split_open_ = reply.first_piece;
    send(reply.bytes);
    sent = true;
  }
  return sent;
}

// Reads what the program wrote within timeout_ms; false when it stayed silent
// and no reply of ours is still on its way.
bool PtySession::read_some(int timeout_ms) {
  if (send_due_replies()) return true;
  if (!replies_.empty()) timeout_ms = std::min(timeout_ms, remaining_ms(replies_.front().due) + 1);
  if (!read_arrived(master_, output_, timeout_ms)) return send_due_replies() || !replies_.empty();
  answer_requests();
  return true;
}

void PtySession::answer_requests() {
  static constexpr std::string_view kRequests[] = {"\033[6n", "\033[18t", "\033[?u", "\033[c"};
  for (;;) {
    std::size_t best = std::string::npos;
    std::string_view found;
    for (std::string_view request : kRequests) {
      const std::size_t at = output_.find(request, scanned_);
      if (at < best) {
        best = at;
        found = request;
      }
    }
    if (best == std::string::npos) {
      // Keep the tail that could be the start of a request split across reads.
      if (output_.size() > scanned_ + 5) scanned_ = output_.size() - 5;
      show_output(output_.size());
      return;
    }
    scanned_ = best + found.size();
    show_output(scanned_);  // the screen as it is when the terminal reads the request
    std::string reply;
    const bool keyboard_question = found == "\033[?u" || found == "\033[c";
    if (!keyboard_question) ++requests_seen_;
    if (found == "\033[c") {
      reply = "\033[?62;22c";
    } else if (found == "\033[?u") {
      reply = options_.kitty_keyboard ? "\033[?0u" : "";
    } else if (options_.answer) {
      reply = options_.answer(found);
    } else if (screen_ && found == "\033[6n") {
      reply = "\033[" + std::to_string(screen_->row()) + ";" + std::to_string(screen_->column()) + "R";
    } else if (screen_) {
      reply = "\033[8;" + std::to_string(screen_->rows()) + ";" + std::to_string(screen_->columns()) + "t";
    }
    if (options_.answer || screen_ || keyboard_question) {
      const auto due = Clock::now() + std::chrono::milliseconds(options_.reply_delay_ms);
      if (options_.reply_split_ms > 0 && reply.size() > 1) {
        replies_.push_back({due, reply.substr(0, 1), true});
        replies_.push_back({due + std::chrono::milliseconds(options_.reply_split_ms), reply.substr(1)});
      } else {
        replies_.push_back({due, reply});
      }
      send_due_replies();
    }
  }
}

namespace {

std::size_t occurrences(const std::string& text, std::string_view of) {
  std::size_t count = 0;
  for (std::size_t at = text.find(of); at != std::string::npos; at = text.find(of, at + of.size())) ++count;
  return count;
}

}  // namespace

int PtySession::kitty_flags_pushed() const {
  return static_cast<int>(occurrences(output_, "\033[>1u")) - static_cast<int>(occurrences(output_, "\033[<u"));
}

bool PtySession::bracketed_paste_on() const {
  const std::size_t on = output_.rfind("\033[?2004h"), off = output_.rfind("\033[?2004l");
  return on != std::string::npos && (off == std::string::npos || off < on);
}

void PtySession::show_output(std::size_t up_to) {
  if (!screen_ || up_to <= shown_) return;
  screen_->feed(std::string_view(output_).substr(shown_, up_to - shown_));
  shown_ = up_to;
}

void PtySession::hang_up() {
  close(master_);
  master_ = -1;
}

void PtySession::resize(int columns, int rows) {
  if (screen_) screen_->resize(columns, rows);
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  ioctl(master_, TIOCSWINSZ, &size);  // the kernel sends SIGWINCH
}

bool PtySession::wait_for(std::string_view text, int timeout_ms) { return wait_for_count(text, 1, timeout_ms); }

bool PtySession::wait_for_from(std::size_t offset, std::string_view text, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  // Only what is new is looked through, with room for text cut across reads.
  while (output_.size() < offset || output_.find(text, offset) == std::string::npos) {
    if (output_.size() > offset + text.size()) offset = output_.size() - text.size();
    if (remaining_ms(deadline) == 0) return false;
    read_some(remaining_ms(deadline));
  }
  return true;
}

bool PtySession::wait_for_count(std::string_view text, int count, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int seen = 0;
    for (std::size_t at = output_.find(text); at != std::string::npos; at = output_.find(text, at + text.size()))
      ++seen;
    if (seen >= count) return true;
    if (remaining_ms(deadline) == 0) return false;
    read_some(remaining_ms(deadline));
  }
}

void PtySession::pump(int milliseconds) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  while (remaining_ms(deadline) > 0) read_some(remaining_ms(deadline));
}

void PtySession::settle(int quiet_ms) {
  const auto give_up = Clock::now() + std::chrono::seconds(30);
  while (read_some(quiet_ms) && Clock::now() < give_up) {
  }
}

bool PtySession::wait_for_exit(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(leader_pid_, &status, WNOHANG);
    if (done == leader_pid_) {
      exited_ = true;
      while (read_some(0)) {
      }
      const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 255;
      if (code > 128) {
        exit_signal = code - 128;
      } else {
        exit_status = code;
      }
      return true;
    }
    if (remaining_ms(deadline) == 0) return false;
    read_some(std::min(20, remaining_ms(deadline)));
  }
}

bool PtySession::wait_until_stopped(bool stopped, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    std::ifstream stat("/proc/" + std::to_string(program_pid_) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t close_paren = line.rfind(')');
    const char state = close_paren != std::string::npos && close_paren + 2 < line.size() ? line[close_paren + 2] : '?';
    if ((state == 'T') == stopped) return true;
    if (remaining_ms(deadline) == 0) return false;
    read_some(std::min(10, remaining_ms(deadline)));
  }
}

std::string PtySession::stdout_pipe_text() { return read_all_arrived(stdout_pipe_, 0); }
std::string PtySession::stderr_text() { return read_all_arrived(stderr_pipe_, 0); }
std::string PtySession::input_left() { return read_all_arrived(left_pipe_, 0); }

termios PtySession::modes() const {
  termios modes{};
  tcgetattr(slave_, &modes);
  return modes;
}

namespace {
std::string* expansion_target = nullptr;
int append_expansion(int c) {
  expansion_target->push_back(static_cast<char>(c));
  return c;
}
}  // namespace

std::string terminfo_string(const std::string& term, const char* capability) {
  static char entry[4096];
  std::string result;
  if (tgetent(entry, term.c_str()) <= 0) return result;
  const char* value = tgetstr(capability, nullptr);
  if (value == nullptr) return result;
  expansion_target = &result;
  tputs(tgoto(value, 0, 0), 1, append_expansion);
  expansion_target = nullptr;
  return result;
}

long process_status(pid_t pid, std::string_view field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.size() > field.size() && line.compare(0, field.size(), field) == 0 && line[field.size()] == ':')
      return std::atol(line.c_str() + field.size() + 1);
  }
  return -1;
}

bool same_modes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}
