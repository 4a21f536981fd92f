// A program of Debian's lrzsz (sx, rx, sb, rb, sz, rz) playing the other end
// of the line: it runs on a pseudo-terminal of its own, and a LineRelay
// carries the bytes between that one and the pseudo-terminal our side opens
// (DevicePath()). Killed when the object goes, if it is still running.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/line_relay.h"
#include "support/pty_device.h"

namespace quorvel::testing {

// One lrzsz program with its standard input and output on the terminal
// device `line`, with support/lrzsz_shim.c loaded into it.
class LrzszProcess {
 public:
  // Whether lrzsz is installed; a test skips with a line when it is not.
  static bool Available();
  static constexpr const char* kMissing = "lrzsz is not installed (tools/install-deps.sh)";

  // Starts `args` (args[0] is sx, rx, sb, rb, sz or rz) in `directory`.
  LrzszProcess(const std::vector<std::string>& args, const std::filesystem::path& directory,
               const std::string& line);
  ~LrzszProcess();
  LrzszProcess(const LrzszProcess&) = delete;
  LrzszProcess& operator=(const LrzszProcess&) = delete;

  // Its exit status (WEXITSTATUS, 128 + signal when killed) once it ended
  // within `timeout`; nullopt while it runs.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout);
  void Kill();
  void Signal(int signal);
  // What it wrote to its error stream (its own account of the transfer).
  std::string ErrorText();

 private:
  void DrainErrors(int timeoutMs);

  pid_t pid_ = -1;
  int errors_ = -1;
  std::string errorText_;
  std::optional<int> status_;
};

// Sets the terminal device at `path` raw (a cooked line would echo and
// translate what reaches it before a program sets its own modes), at
// `speed` (B38400 and the like), which lrzsz sizes its patience by.
void MakeRaw(const std::string& path, speed_t speed = B38400);

// The program on a pseudo-terminal of its own, behind a relay.
class LrzszPeer {
 public:
  // kLater: the program starts at Start(), once our side has the line open
  // (a sender's first request would otherwise reach no one).
  enum class When { kNow, kLater };

  LrzszPeer(const std::vector<std::string>& args, const std::filesystem::path& directory,
            RelayOptions relay = {}, When when = When::kNow, speed_t speed = B38400);
  void Start();
  // Waits until what the program says first (a receiver's first request,
  // sz's call to start) is waiting on our side of the line: a port opened
  // after that empties it away, so it cannot reach the terminal's receive
  // box before the transfer runs. False when nothing came within `timeout`.
  bool AwaitFirstBytes(std::chrono::milliseconds timeout);

  // The pseudo-terminal our side opens (raw, by path).
  const std::string& DevicePath() const { return ours_.Path(); }
  LineRelay& Relay() { return relay_; }
  LrzszProcess& Process() { return *process_; }
  std::optional<int> WaitExit(std::chrono::milliseconds timeout) {
    return process_->WaitExit(timeout);
  }
  std::string ErrorText() { return process_->ErrorText(); }

 private:
  PtyDevice ours_;
  PtyDevice theirs_;
  bool raw_;
  LineRelay relay_;
  std::vector<std::string> args_;
  std::filesystem::path directory_;
  std::optional<LrzszProcess> process_;
};

}  // namespace quorvel::testing
