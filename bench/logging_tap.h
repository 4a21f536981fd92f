// Logs a host's line to a temporary file until Finish, as "Log to file…"
// does with the bytes sent logged too: for the measurements that must hold
// with logging on. It listens to the line's listener list as the log file
// does (transfers too) until Finish; the list must outlive that.
#pragma once

#include <cstdint>
#include <string>

#include "core/line_listeners.h"
#include "logging/line_logger.h"

namespace quorvel::bench {

class LoggingTap {
 public:
  LoggingTap(LineListeners& listeners, LogFormat format);
  ~LoggingTap();  // removes the file; the list may be gone by then only after Finish
  LoggingTap(const LoggingTap&) = delete;
  LoggingTap& operator=(const LoggingTap&) = delete;

  bool Ok() const { return ok_; }
  // Leaves the list and stops the log (the file is complete then); its size
  // in bytes. Call before the list goes.
  uint64_t Finish();

 private:
  LineListeners& listeners_;
  LineLogger logger_;
  std::string directory_;
  bool ok_ = false;
  bool listening_ = false;
};

// ", logging raw" and so on, for a measurement's name.
std::string LoggingSuffix(LogFormat format);

}  // namespace quorvel::bench
