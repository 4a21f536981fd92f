#include "support/lrzsz_peer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace quorvel::testing {
namespace {

constexpr const char* kPrograms[] = {"sx", "rx", "sb", "rb", "sz", "rz"};

std::string ProgramPath(const std::string& name) {
  return "/usr/bin/" + name;
}

}  // namespace

void MakeRaw(const std::string& path, speed_t speed) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios mode{};
  if (fd < 0 || ::tcgetattr(fd, &mode) != 0) {
    ADD_FAILURE() << "cannot open " << path;
  } else {
    ::cfmakeraw(&mode);
    ::cfsetspeed(&mode, speed);
    ::tcsetattr(fd, TCSANOW, &mode);
  }
  if (fd >= 0) ::close(fd);
}

bool LrzszProcess::Available() {
  for (const char* program : kPrograms) {
    if (::access(ProgramPath(program).c_str(), X_OK) != 0) return false;
  }
  return true;
}

LrzszProcess::LrzszProcess(const std::vector<std::string>& args,
                           const std::filesystem::path& directory, const std::string& line) {
  int errors[2];
  if (args.empty() || ::pipe2(errors, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "cannot start lrzsz";
    return;
  }
  std::vector<std::string> argv = args;
  argv[0] = ProgramPath(args[0]);
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setsid();
    int fd = ::open(line.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0 || ::chdir(directory.c_str()) != 0) _exit(126);
    ::dup2(fd, 0);
    ::dup2(fd, 1);
    ::dup2(errors[1], 2);
    ::setenv("LD_PRELOAD", QUORVEL_LRZSZ_SHIM, 1);
    ::execv(pointers[0], pointers.data());
    _exit(127);
  }
  ::close(errors[1]);
  errors_ = errors[0];
}

LrzszProcess::~LrzszProcess() {
  Kill();
  if (errors_ >= 0) ::close(errors_);
}

std::optional<int> LrzszProcess::WaitExit(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!status_ && pid_ > 0) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } else if (std::chrono::steady_clock::now() >= deadline) {
      return std::nullopt;
    } else {
      DrainErrors(2);  // also keeps its error stream from filling up
    }
  }
  return status_;
}

void LrzszProcess::Kill() {
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    WaitExit(std::chrono::seconds(5));
  }
}

void LrzszProcess::Signal(int signal) {
  if (pid_ > 0 && !status_) ::kill(pid_, signal);
}

std::string LrzszProcess::ErrorText() {
  DrainErrors(0);
  return errorText_;
}

void LrzszProcess::DrainErrors(int timeoutMs) {
  if (errors_ < 0) return;
  pollfd in = {errors_, POLLIN, 0};
  while (::poll(&in, 1, timeoutMs) > 0) {
    char buffer[4096];
    ssize_t n = ::read(errors_, buffer, sizeof buffer);
    if (n <= 0) return;
    errorText_.append(buffer, static_cast<size_t>(n));
    timeoutMs = 0;
  }
}

LrzszPeer::LrzszPeer(const std::vector<std::string>& args, const std::filesystem::path& directory,
                     RelayOptions relay, When when, speed_t speed)
    : raw_((MakeRaw(ours_.Path()), MakeRaw(theirs_.Path(), speed), true)),
      relay_(ours_.Master(), theirs_.Master(), relay),
      args_(args),
      directory_(directory) {
  if (when == When::kNow) Start();
}

void LrzszPeer::Start() {
  if (!process_) process_.emplace(args_, directory_, theirs_.Path());
}

bool LrzszPeer::AwaitFirstBytes(std::chrono::milliseconds timeout) {
  int fd = ::open(ours_.Path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  pollfd in = {fd, POLLIN, 0};
  bool heard = ::poll(&in, 1, static_cast<int>(timeout.count())) > 0 && (in.revents & POLLIN);
  ::close(fd);
  return heard;
}

}  // namespace quorvel::testing
