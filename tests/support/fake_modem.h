// A device's modem lines for tests, behind the port's modem-control seam:
// records every command with its time, lets the test move the input lines,
// and can answer like a pseudo-terminal (no lines at all) or like a driver
// without a wait for changes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "link/modem_control.h"

namespace quorvel::testing {

class FakeModem : public ModemControl {
 public:
  enum class Kind { kRaise, kDrop, kBreak, kBreakOn, kBreakOff };
  struct Call {
    Kind kind;
    unsigned lines;
    std::chrono::steady_clock::time_point at;
    int probe;  // what the probe said at the call
  };

  // `driverWaits`: whether WaitForChange waits, or reports itself unsupported.
  explicit FakeModem(bool driverWaits = true) : driverWaits_(driverWaits) {}

  // Called at every command, on the calling thread, with no lock held.
  void SetProbe(std::function<int()> probe);
  // The device moves its input lines; a waiting watcher wakes.
  void SetInputs(unsigned inputs);
  // Without lines every call fails, as on a pseudo-terminal.
  void SetAvailable(bool available);

  std::vector<Call> Calls() const;
  void ClearCalls();
  unsigned Lines() const;
  int Looks() const;
  bool Waiting() const;

  bool GetLines(int fd, unsigned* lines) override;
  bool Raise(int fd, unsigned lines) override;
  bool Drop(int fd, unsigned lines) override;
  ModemWait WaitForChange(int fd) override;
  // Like the kernel's: ends only a wait in progress.
  void InterruptWait(pthread_t waiter) override;
  bool SendBreak(int fd) override;
  bool SetBreak(int fd, bool on) override;

 private:
  bool Record(Kind kind, unsigned lines);

  const bool driverWaits_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::function<int()> probe_;
  std::vector<Call> calls_;
  unsigned lines_ = kLineDtr | kLineRts;  // as the kernel leaves them on open
  bool available_ = true;
  unsigned long changes_ = 0;
  int looks_ = 0;
  int waiting_ = 0;
  bool interrupted_ = false;
};

}  // namespace quorvel::testing
