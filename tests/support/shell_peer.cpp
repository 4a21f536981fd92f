#include "support/shell_peer.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvel::testing {

pid_t StartShell(const std::filesystem::path& home, int rows, int columns,
                 const std::map<std::string, std::string>& env, int* master) {
  winsize size{};
  size.ws_row = static_cast<unsigned short>(rows);
  size.ws_col = static_cast<unsigned short>(columns);
  int slave = -1;
  *master = -1;
  if (openpty(master, &slave, nullptr, nullptr, &size) != 0) return -1;
  pid_t shell = fork();
  if (shell == 0) {
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    dup2(slave, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    if (slave > 2) close(slave);
    close(*master);
    if (chdir(home.c_str()) != 0) _exit(126);
    setenv("HOME", home.c_str(), 1);
    setenv("TERM", "xterm-256color", 1);
    setenv("PS1", kShellPrompt, 1);
    setenv("HISTFILE", "/dev/null", 1);
    setenv("LESSHISTFILE", "-", 1);
    setenv("INPUTRC", "/dev/null", 1);
    unsetenv("LESS");
    unsetenv("PROMPT_COMMAND");
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    execlp("bash", "bash", "--norc", "--noprofile", "-i", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(slave);
  if (shell < 0) {
    close(*master);
    *master = -1;
    return -1;
  }
  fcntl(*master, F_SETFL, fcntl(*master, F_GETFL) | O_NONBLOCK);
  return shell;
}

ShellPeer::ShellPeer(const std::filesystem::path& home,
                     const std::map<std::string, std::string>& env) {
  if (!line_.Ok()) return;
  shell_ = StartShell(home, 24, 80, env, &master_);
  if (shell_ <= 0) return;
  RelayOptions options;
  options.delay = std::chrono::microseconds(0);
  relay_ = std::make_unique<LineRelay>(line_.Master(), master_, options);
}

ShellPeer::~ShellPeer() {
  relay_.reset();
  if (shell_ > 0) {
    kill(shell_, SIGKILL);
    waitpid(shell_, nullptr, 0);
  }
  if (master_ >= 0) close(master_);
}

}  // namespace quorvel::testing
