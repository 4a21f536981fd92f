#include "link/tty_modem.h"

#include "link/termios2_line.h"

namespace quorvel {

ModemWait TtyModem::WaitForChange() {
  {
    std::lock_guard guard(waiterMutex_);
    waiter_ = pthread_self();
  }
  ModemWait result = calls_.WaitForChange(fd_.load());
  std::lock_guard guard(waiterMutex_);
  waiter_.reset();
  return result;
}

void TtyModem::InterruptWait() {
  // Under the lock: the waiter cannot leave, and its thread end, meanwhile.
  std::lock_guard guard(waiterMutex_);
  if (waiter_) calls_.InterruptWait(*waiter_);
}

void TtyModem::DropQueuedOutput() {
  if (int fd = fd_.load(); fd >= 0) FlushLine(fd, 1);
}

}  // namespace quorvel
