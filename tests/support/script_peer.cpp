#include "support/script_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace quorvel::testing {

using Clock = std::chrono::steady_clock;

ScriptPeer::ScriptPeer(const std::string& script, const std::vector<std::string>& arguments) {
  int out[2];
  int in[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  if (pipe2(in, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return;
  }
  std::vector<std::string> words{"python3", script};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(in[0], STDIN_FILENO);
    execv("/usr/bin/python3", argv.data());
    static constexpr char kNoPython[] = "SKIP no /usr/bin/python3\n";
    (void)!write(STDOUT_FILENO, kNoPython, sizeof kNoPython - 1);
    _exit(127);
  }
  close(out[1]);
  close(in[0]);
  out_ = out[0];
  in_ = in[1];
}

ScriptPeer::~ScriptPeer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      pollfd none{-1, 0, 0};
      poll(&none, 0, 10);
    }
  }
  if (out_ >= 0) close(out_);
  if (in_ >= 0) close(in_);
}

std::string ScriptPeer::Line(std::chrono::seconds timeout) {
  std::string line;
  auto deadline = Clock::now() + timeout;
  while (out_ >= 0 && Clock::now() < deadline) {
    pollfd ready{out_, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    char c;
    if (read(out_, &c, 1) != 1) break;
    if (c == '\n') return line;
    line += c;
  }
  return "";
}

void ScriptPeer::Go() {
  if (in_ < 0 || write(in_, "go\n", 3) != 3) ADD_FAILURE() << "the peer took no input";
}

std::string ModbusPeerScript() {
  return QUORVEL_TESTS_DIR "/modbus_rtu_peer.py";
}

}  // namespace quorvel::testing
