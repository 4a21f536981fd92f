// A real shell as the device: bash on a pseudo-terminal of its own (in a
// session of its own, that terminal its controlling one, as a board's login
// shell has its serial console), with TERM=xterm-256color, the prompt
// "qv$ " and no start files, its home `home`; a LineRelay carries the bytes
// between that terminal and the pseudo-terminal our side opens
// (DevicePath()). Killed when the object goes.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "support/line_relay.h"
#include "support/pty_line.h"

namespace quorvel::testing {

inline constexpr char kShellPrompt[] = "qv$ ";

// Starts bash on the slave of a new pseudo-terminal of `rows` x `columns`,
// with `env` set besides; `*master` gets the master (non-blocking). The
// shell's pid, or -1 (and `*master` -1) when it could not start.
pid_t StartShell(const std::filesystem::path& home, int rows, int columns,
                 const std::map<std::string, std::string>& env, int* master);

class ShellPeer {
 public:
  explicit ShellPeer(const std::filesystem::path& home,
                     const std::map<std::string, std::string>& env = {});
  ~ShellPeer();
  ShellPeer(const ShellPeer&) = delete;
  ShellPeer& operator=(const ShellPeer&) = delete;

  bool Running() const { return shell_ > 0; }
  const std::string& DevicePath() const { return line_.Path(); }

 private:
  PtyLine line_{PtyLine::Mode::kRaw};  // a serial line echoes nothing
  int master_ = -1;
  pid_t shell_ = -1;
  std::unique_ptr<LineRelay> relay_;
};

}  // namespace quorvel::testing
