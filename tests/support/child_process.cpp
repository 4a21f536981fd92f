#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvel::testing {
namespace {

using Clock = std::chrono::steady_clock;

bool MakePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  readEnd.Reset(ends[0]);
  writeEnd.Reset(ends[1]);
  return true;
}

// Appends what `fd` has; false at its end or when the pipe is gone.
bool ReadSome(int fd, std::string& text) {
  char buffer[4096];
  ssize_t n = read(fd, buffer, sizeof buffer);
  if (n <= 0) return false;
  text.append(buffer, static_cast<size_t>(n));
  return true;
}

}  // namespace

std::filesystem::path BuiltProgram(const std::string& folder, const std::string& name) {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  // <build>/tests/<test> or <build>/tests/ui/<test>.
  for (std::filesystem::path up = self.parent_path(); !up.empty() && up != up.root_path();
       up = up.parent_path()) {
    std::filesystem::path candidate = up / folder / name;
    if (std::filesystem::exists(candidate)) return candidate;
  }
  return self.parent_path().parent_path() / folder / name;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::optional<std::string>>& env,
                           const std::filesystem::path& directory) {
  UniqueFd outWrite;
  UniqueFd errWrite;
  if (argv.empty() || !MakePipe(out_, outWrite) || !MakePipe(err_, errWrite)) return;
  std::vector<std::string> args = argv;
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(outWrite.Get(), STDOUT_FILENO);
    dup2(errWrite.Get(), STDERR_FILENO);
    for (const auto& [name, value] : env) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    if (chdir(directory.c_str()) != 0) _exit(126);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !code_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void ChildProcess::Signal(int signal) {
  if (pid_ > 0 && !code_) kill(pid_, signal);
}

bool ChildProcess::Pump(int timeoutMs) {
  pollfd streams[2] = {{out_.Get(), POLLIN, 0}, {err_.Get(), POLLIN, 0}};
  if (poll(streams, 2, timeoutMs) <= 0) return false;
  bool any = false;
  UniqueFd* ends[2] = {&out_, &err_};
  std::string* texts[2] = {&outText_, &errText_};
  for (int i = 0; i < 2; ++i) {
    if (streams[i].revents == 0) continue;
    if (ReadSome(ends[i]->Get(), *texts[i])) {
      any = true;
    } else {
      ends[i]->Reset();  // its end: nothing more will come
    }
  }
  return any;
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    if (size_t end = outText_.find('\n'); end != std::string::npos) {
      std::string line = outText_.substr(0, end);
      outText_.erase(0, end + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || out_.Get() < 0) return std::nullopt;
    Pump(static_cast<int>(left.count()));
  }
}

std::optional<int> ChildProcess::WaitExit(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return std::nullopt;
  auto deadline = Clock::now() + timeout;
  while (!code_) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } else if (Clock::now() > deadline) {
      return std::nullopt;
    } else {
      Pump(10);
    }
  }
  // What is left in the pipes.
  while (out_.Get() >= 0 || err_.Get() >= 0) {
    if (!Pump(100)) break;
  }
  return code_;
}

std::string ChildProcess::Output() {
  while (Pump(0)) {
  }
  return outText_;
}

std::string ChildProcess::Errors() {
  while (Pump(0)) {
  }
  return errText_;
}

}  // namespace quorvel::testing
