// Logs a host's line to a temporary file until Finish, as "Log to file…"
// does with the bytes sent logged too: for the measurements that must hold
// with logging on. The worker may still hold the tap after Finish, so the
// object must outlive the link (declare it before the host runs).
#pragma once

#include <cstdint>
#include <string>

#include "core/terminal_state.h"
#include "logging/line_logger.h"

namespace quorvel::bench {

class LoggingTap {
 public:
  LoggingTap(TerminalState& state, LogFormat format);
  ~LoggingTap();  // removes the file; the state may be gone by then
  LoggingTap(const LoggingTap&) = delete;
  LoggingTap& operator=(const LoggingTap&) = delete;

  bool Ok() const { return ok_; }
  // Detaches from the state and stops the log (the file is complete then);
  // its size in bytes. Call before the state goes.
  uint64_t Finish();

 private:
  TerminalState& state_;
  LineLogger logger_;
  std::string directory_;
  bool ok_ = false;
};

// ", logging raw" and so on, for a measurement's name.
std::string LoggingSuffix(LogFormat format);

}  // namespace quorvel::bench
