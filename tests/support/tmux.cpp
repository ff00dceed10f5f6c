// SPDX-License-Identifier: MIT
#include "tests/support/tmux.h"

#include "tests/support/program.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

std::string shell_quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string run(const std::string& command) {
  std::string output;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    pclose(pipe);
  }
  return output;
}

std::string read_file(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int session_counter = 0;

}  // namespace

TmuxSession::TmuxSession(int columns, int rows, const std::string& before_program, Job job,
                         const std::string& after_program) {
  socket_ = "tempconv-test-" + std::to_string(getpid()) + "-" + std::to_string(++session_counter);
  if (!dir_.made()) {
    ADD_FAILURE() << "cannot make a private folder for the tmux session";
    return;
  }
  const std::string dir = shell_quote(dir_.path());
  const std::string script = "stty -g > " + dir + "/before; " + before_program + program_shell_command() +
                             "; echo $? > " + dir + "/status; " + after_program + (after_program.empty() ? "" : "; ") +
                             "stty -g > " + dir + "/after; echo DONE; sleep 600";
  started_ = true;
  const std::string size = "-x " + std::to_string(columns) + " -y " + std::to_string(rows);
  if (job != Job::Plain) {
    // One job: the script's shell and the program stop and continue together.
    std::ofstream(dir_.path() + "/run") << script << "\n";
    tmux("new-session -d " + size + " " + shell_quote("env PS1='$ ' bash --norc --noprofile -i"));
    type("sh " + shell_quote(dir_.path() + "/run") + (job == Job::Background ? " &" : ""));
    keys({"Enter"});
  } else {
    tmux("new-session -d " + size + " " + shell_quote("sh -c " + shell_quote(script)));
  }
  // The program has started once its menu is on the screen.
  wait_for("Choose an option:");
}

TmuxSession::~TmuxSession() {
  if (started_) tmux("kill-server");  // by our own socket; the folder goes with dir_
}

std::string TmuxSession::tmux(const std::string& arguments) {
  return run("tmux -L " + socket_ + " -f /dev/null " + arguments + " 2>/dev/null");
}

void TmuxSession::keys(const std::vector<std::string>& keys) {
  std::string arguments;
  for (const std::string& key : keys) arguments += " " + shell_quote(key);
  tmux("send-keys" + arguments);
}

void TmuxSession::type(const std::string& text) { tmux("send-keys -l " + shell_quote(text)); }

void TmuxSession::paste(const std::string& text) {
  tmux("set-buffer -b tempconv-test -- " + shell_quote(text));
  tmux("paste-buffer -p -d -b tempconv-test");
}

std::vector<std::string> TmuxSession::screen() {
  std::vector<std::string> rows;
  std::istringstream text(tmux("capture-pane -p"));
  for (std::string row; std::getline(text, row);) {
    while (!row.empty() && row.back() == ' ') row.pop_back();
    rows.push_back(row);
  }
  return rows;
}

std::string TmuxSession::screen_text() {
  std::vector<std::string> rows = screen();
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  std::string text;
  for (const std::string& row : rows) text += row + "\n";
  return text;
}

bool TmuxSession::wait_for(const std::string& text, int timeout_ms) {
  std::string wanted = text;
  while (!wanted.empty() && wanted.back() == ' ') wanted.pop_back();  // the screen shows none
  for (int waited = 0; waited <= timeout_ms; waited += 20) {
    if (screen_text().find(wanted) != std::string::npos) return true;
    sleep_ms(20);
  }
  return false;
}

bool TmuxSession::wait_for_joined(const std::string& text, int timeout_ms) {
  for (int waited = 0; waited <= timeout_ms; waited += 20) {
    std::string joined;
    for (const std::string& row : screen()) joined += row;
    if (joined.find(text) != std::string::npos) return true;
    sleep_ms(20);
  }
  return false;
}

bool TmuxSession::wait_for_cursor_row(const std::string& text, int timeout_ms) {
  for (int waited = 0; waited <= timeout_ms; waited += 20) {
    const std::vector<std::string> rows = screen();
    const int row = cursor().second;
    if (row >= 1 && static_cast<std::size_t>(row) <= rows.size() && rows[row - 1] == text) return true;
    sleep_ms(20);
  }
  return false;
}

void TmuxSession::settle(int quiet_ms) {
  std::string last = screen_text() + tmux("display -p '#{cursor_x},#{cursor_y}'");
  for (int quiet = 0, total = 0; quiet < quiet_ms && total < 5000; total += 25) {
    sleep_ms(25);
    const std::string now = screen_text() + tmux("display -p '#{cursor_x},#{cursor_y}'");
    quiet = now == last ? quiet + 25 : 0;
    last = now;
  }
}

void TmuxSession::resize(int columns, int rows) {
  tmux("resize-window -x " + std::to_string(columns) + " -y " + std::to_string(rows));
}

std::pair<int, int> TmuxSession::cursor() {
  const std::string position = tmux("display -p '#{cursor_x} #{cursor_y}'");
  int x = -1, y = -1;
  std::sscanf(position.c_str(), "%d %d", &x, &y);
  return {x + 1, y + 1};
}

bool TmuxSession::wait_for_exit(int timeout_ms) {
  for (int waited = 0; waited <= timeout_ms; waited += 20) {
    if (!read_file(dir_.path() + "/after").empty()) return true;
    sleep_ms(20);
  }
  return false;
}

int TmuxSession::exit_status() {
  const std::string status = read_file(dir_.path() + "/status");
  return status.empty() ? -1 : std::atoi(status.c_str());
}

bool TmuxSession::modes_unchanged() {
  const std::string before = read_file(dir_.path() + "/before");
  return !before.empty() && before == read_file(dir_.path() + "/after");
}
