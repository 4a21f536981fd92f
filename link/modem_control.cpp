#include "link/modem_control.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>

namespace quorvel {
namespace {

struct LineBit {
  unsigned ours;
  int kernel;
};
constexpr LineBit kLineBits[] = {
    {kLineDtr, TIOCM_DTR}, {kLineRts, TIOCM_RTS}, {kLineCts, TIOCM_CTS},
    {kLineDsr, TIOCM_DSR}, {kLineDcd, TIOCM_CAR}, {kLineRi, TIOCM_RNG},
};

int KernelBits(unsigned lines) {
  int bits = 0;
  for (const LineBit& bit : kLineBits) {
    if (lines & bit.ours) bits |= bit.kernel;
  }
  return bits;
}

unsigned OurBits(int kernel) {
  unsigned lines = 0;
  for (const LineBit& bit : kLineBits) {
    if (kernel & bit.kernel) lines |= bit.ours;
  }
  return lines;
}

// A signal whose only job is to end a blocking TIOCMIWAIT: its handler does
// nothing and is installed without SA_RESTART, so the call returns EINTR.
int InterruptSignal() {
  static const int signal = [] {
    int number = SIGRTMIN + 2;
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(number, &action, nullptr);
    return number;
  }();
  return signal;
}

class KernelModem : public ModemControl {
 public:
  bool GetLines(int fd, unsigned* lines) override {
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0) return false;
    *lines = OurBits(bits);
    return true;
  }

  bool Raise(int fd, unsigned lines) override {
    int bits = KernelBits(lines);
    return ioctl(fd, TIOCMBIS, &bits) == 0;
  }

  bool Drop(int fd, unsigned lines) override {
    int bits = KernelBits(lines);
    return ioctl(fd, TIOCMBIC, &bits) == 0;
  }

  ModemWait WaitForChange(int fd) override {
    InterruptSignal();  // installed before anyone may send it
    if (ioctl(fd, TIOCMIWAIT, KernelBits(kInputLines)) == 0) return ModemWait::kChanged;
    switch (errno) {
      case EINTR:
        return ModemWait::kInterrupted;
      case ENOTTY:
      case EINVAL:
        return ModemWait::kUnsupported;
      default:
        return ModemWait::kFailed;
    }
  }

  void InterruptWait(pthread_t waiter) override { pthread_kill(waiter, InterruptSignal()); }

  bool SendBreak(int fd) override { return tcsendbreak(fd, 0) == 0; }

  bool SetBreak(int fd, bool on) override { return ioctl(fd, on ? TIOCSBRK : TIOCCBRK) == 0; }
};

}  // namespace

ModemControl& KernelModemControl() {
  static KernelModem modem;
  return modem;
}

}  // namespace quorvel
