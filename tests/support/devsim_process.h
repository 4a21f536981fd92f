// quorvel-devsim run as its own process, as a user runs it, and the
// terminal's real serial port on the other end of its pseudo-terminal.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/unique_fd.h"
#include "link/serial_port.h"

namespace quorvel::testing {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline constexpr milliseconds kDeadline{5000};

// The build puts the tools beside the tests: <build>/tools, <build>/tests.
inline fs::path DevsimPath() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  return self.parent_path().parent_path() / "tools" / "quorvel-devsim";
}

// One quorvel-devsim process with its output and error streams.
class Devsim {
 public:
  Devsim(const std::vector<std::string>& args, const fs::path& directory = fs::current_path()) {
    fs::path program = DevsimPath();
    if (!fs::exists(program)) {
      ADD_FAILURE() << program << " is missing: build the quorvel_devsim target";
      return;
    }
    UniqueFd outWriteEnd;  // the child's; closed here once it has its copy
    UniqueFd errWriteEnd;
    if (!MakePipe(out_, outWriteEnd) || !MakePipe(err_, errWriteEnd)) {
      ADD_FAILURE() << "pipe failed";
      return;
    }
    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(outWriteEnd.Get(), 1);
      dup2(errWriteEnd.Get(), 2);
      if (chdir(directory.c_str()) != 0) _exit(127);
      execv(pointers[0], pointers.data());
      _exit(127);
    }
  }

  ~Devsim() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // The next line of its output, without the line break; nullopt on timeout
  // or at the end of the output.
  std::optional<std::string> ReadLine(milliseconds timeout = kDeadline) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
      if (size_t end = outText_.find('\n'); end != std::string::npos) {
        std::string line = outText_.substr(0, end);
        outText_.erase(0, end + 1);
        return line;
      }
      auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || !ReadInto(out_.Get(), outText_, static_cast<int>(left))) return std::nullopt;
    }
  }

  // Reads lines until one equals `line`; false when it never came.
  bool WaitForLine(const std::string& line) {
    while (std::optional<std::string> next = ReadLine()) {
      if (*next == line) return true;
    }
    return false;
  }

  // The device path, which it prints first.
  std::string Path() {
    if (!path_) path_ = ReadLine().value_or("");
    return *path_;
  }

  // Only a simulator that started and runs: a pid of -1 would signal every
  // process the test may signal.
  void Signal(int signal) {
    if (pid_ > 0 && !status_) kill(pid_, signal);
  }
  pid_t Pid() const { return pid_; }

  // Its wait status once it has ended, nullopt if it is still running then.
  std::optional<int> WaitExit(milliseconds timeout = kDeadline) {
    if (pid_ <= 0) return std::nullopt;  // waitpid(-1) would reap any child
    auto deadline = Clock::now() + timeout;
    while (!status_) {
      int status = 0;
      pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        status_ = status;
      } else if (Clock::now() > deadline) {
        return std::nullopt;
      } else {
        ReadInto(err_.Get(), errText_, 10);  // keep its error stream from filling up
      }
    }
    return status_;
  }

  std::string ErrorText() {
    while (ReadInto(err_.Get(), errText_, 100)) {
    }
    return errText_;
  }

 private:
  static bool MakePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    readEnd.Reset(ends[0]);
    writeEnd.Reset(ends[1]);
    return true;
  }

  static bool ReadInto(int fd, std::string& text, int timeoutMs) {
    pollfd in = {fd, POLLIN, 0};
    if (poll(&in, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    text.append(buffer, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  UniqueFd out_;  // read ends of its output and error streams
  UniqueFd err_;
  std::string outText_;
  std::string errText_;
  std::optional<std::string> path_;
  std::optional<int> status_;
};

// The terminal's side: the real serial port, opened on the device.
class Terminal {
 public:
  explicit Terminal(const std::string& path) {
    EXPECT_TRUE(port.Open(PortTarget::Device(path), LineParameters{}));
  }

  void Send(const std::vector<uint8_t>& bytes) {
    port.Write(bytes.data(), static_cast<int>(bytes.size()));
  }

  std::vector<uint8_t> Receive(size_t count, milliseconds timeout = kDeadline) {
    std::vector<uint8_t> got;
    auto deadline = Clock::now() + timeout;
    while (got.size() < count && Clock::now() < deadline) {
      port.WaitReadable(10);
      uint8_t buffer[4096];
      int n = port.Read(buffer, static_cast<int>(std::min(sizeof buffer, count - got.size())));
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

  SerialPort port;
};

}  // namespace quorvel::testing
