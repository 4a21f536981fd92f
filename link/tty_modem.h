// The modem lines of a terminal device: the ModemControl calls (the
// kernel's, or a test's scripted device) on the descriptor the tty backend
// attaches while the device is open. The waiter of WaitForChange is kept, so
// that InterruptWait can reach its thread.
#pragma once

#include <pthread.h>

#include <atomic>
#include <mutex>
#include <optional>

#include "link/line_modem.h"
#include "link/modem_control.h"

namespace quorvel {

class TtyModem : public LineModem {
 public:
  explicit TtyModem(ModemControl& calls) : calls_(calls) {}

  // The open device's descriptor, -1 for none. The thread that opens and
  // closes the device calls it, while nobody else uses the lines.
  void Attach(int fd) { fd_.store(fd); }
  // The descriptor the lines are set on; -1 for none.
  int Descriptor() const { return fd_.load(); }

  bool GetLines(unsigned* lines) override { return calls_.GetLines(fd_.load(), lines); }
  bool Raise(unsigned lines) override { return calls_.Raise(fd_.load(), lines); }
  bool Drop(unsigned lines) override { return calls_.Drop(fd_.load(), lines); }
  ModemWait WaitForChange() override;
  void InterruptWait() override;
  bool SendBreak() override { return calls_.SendBreak(fd_.load()); }
  bool SetBreak(bool on) override { return calls_.SetBreak(fd_.load(), on); }
  void DropQueuedOutput() override;

 private:
  ModemControl& calls_;
  std::atomic<int> fd_{-1};
  std::mutex waiterMutex_;
  std::optional<pthread_t> waiter_;  // the thread in WaitForChange
};

}  // namespace quorvel
