// What the window shows of the modem lines: the latest report, which the line
// watcher, the line actions and the link control renew, and a descriptor that
// turns readable when a new one is in. The window reads it on its own thread
// whenever it likes; nobody ever waits for the window.
#pragma once

#include <mutex>

#include "core/event_fd.h"
#include "link/line_modem.h"

namespace quorvel {

struct LineReport {
  bool available = false;  // the open device answers for its modem lines
  unsigned lines = 0;      // kLine... bits, while available
  bool operator==(const LineReport&) const = default;
};

class LineBoard {
 public:
  // Any thread: reads the lines of the open line and posts what it found
  // (not available when the driver refuses). Reading and posting happen under one
  // lock, so a slower reader never posts an older look over a newer one.
  // Returns whether the driver answered.
  bool Look(LineModem& modem);
  // Any thread: no device, no lines.
  void Clear() { Post({}); }

  LineReport Latest() const;

  // Readable after a report that differs from the one before, until Drain().
  int Descriptor() const { return ready_.Descriptor(); }
  void Drain() { ready_.Drain(); }

 private:
  void PostLocked(const LineReport& report);
  void Post(const LineReport& report);

  mutable std::mutex mutex_;
  LineReport report_;
  EventFd ready_;
};

}  // namespace quorvel
