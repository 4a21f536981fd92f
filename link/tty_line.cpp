#include "link/tty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "core/clock.h"
#include "link/termios2_line.h"

namespace quorvel {

OpenOutcome TtyLine::Open(const PortTarget& target, const LineParameters& line, LinesAtOpen lines) {
  if (int error = OpenDevice(target.Text()); error != 0) {
    return OpenOutcome::Failed(PortFailure::Step::kOpen, error);
  }
  ApplyLinesAtOpen(lines);  // at once: the kernel has just raised both lines
  SetConfig(line);
  FlushLine(fd_.Get(), 2);
  return OpenOutcome::Opened();
}

int TtyLine::OpenDevice(const std::string& path) {
  if (path.empty()) return ENOENT;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return errno;
  if (!isatty(fd.Get())) return ENOTTY;
  // flock as well as TIOCEXCL: root is not kept out by TIOCEXCL alone.
  if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 || ioctl(fd.Get(), TIOCEXCL) != 0) return EBUSY;
  if (!MakeLineRaw(fd.Get())) return errno != 0 ? errno : EIO;
  fd_ = std::move(fd);
  modem_.Attach(fd_.Get());
  return 0;
}

void TtyLine::ApplyLinesAtOpen(LinesAtOpen lines) {
  // A device without modem lines refuses both calls; that is no failure to open.
  unsigned active = (lines.dtrActive ? kLineDtr : 0) | (lines.rtsActive ? kLineRts : 0);
  if (unsigned inactive = kOutputLines & ~active) modem_.Drop(inactive);
  if (active) modem_.Raise(active);
  SetHangUpOnClose(lines.dtrActive && lines.rtsActive);
}

void TtyLine::SetHangUpOnClose(bool drop) {
  if (fd_) quorvel::SetHangUpOnClose(fd_.Get(), drop);
}

ConfigOutcome TtyLine::SetConfig(const LineParameters& line) {
  ConfigOutcome outcome;
  if (!fd_) return outcome;
  outcome.applied = ApplyLineParameters(fd_.Get(), line);
  LineSnapshot now;
  if (ReadLineSnapshot(fd_.Get(), &now)) outcome.rate = now.outputSpeed;
  return outcome;
}

uint32_t TtyLine::RateInForce() const {
  LineSnapshot now;
  return fd_ && ReadLineSnapshot(fd_.Get(), &now) ? now.outputSpeed : 0;
}

int TtyLine::Read(uint8_t* buffer, int capacity) {
  ssize_t got;
  do {
    got = ::read(fd_.Get(), buffer, static_cast<size_t>(capacity));
  } while (got < 0 && errno == EINTR);
  if (got > 0) return static_cast<int>(got);
  // A raw line with nothing buffered reads 0 bytes whether or not it hung
  // up; the port lets go once a wait or a write has marked the hang-up.
  return got < 0 && IsHangupError(errno) ? -1 : 0;
}

bool TtyLine::IsHangupError(int error) {
  return error == EIO || error == ENXIO || error == ENODEV;
}

void TtyLine::WaitReadable(int timeoutMs) {
  pollfd fds[3] = {{fd_.Get(), POLLIN, 0},
                   {signals_.CancelDescriptor(), POLLIN, 0},
                   {signals_.WakeDescriptor(), POLLIN, 0}};
  int ready = ::poll(fds, 3, timeoutMs);
  if (ready <= 0) return;
  if (fds[2].revents & POLLIN) {
    signals_.TakeWake();
    return;
  }
  if (fds[0].revents & (POLLHUP | POLLERR)) signals_.MarkHungUp();
}

int TtyLine::Write(const uint8_t* bytes, int count, int64_t deadline) {
  int written = 0;
  while (written < count) {
    ssize_t n = ::write(fd_.Get(), bytes + written, static_cast<size_t>(count - written));
    if (n > 0) {
      written += static_cast<int>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      if (!WaitWritable(deadline)) break;  // timed out or cancelled: a short write
    } else {
      int error = n < 0 ? errno : EIO;
      if (IsHangupError(error)) {
        signals_.MarkHungUp();
        signals_.WakeReader();  // the reader closes the dead line
      }
      return error;
    }
  }
  if (!DrainedBy(deadline)) FlushLine(fd_.Get(), 1);  // what is still queued is discarded
  return 0;
}

bool TtyLine::WaitWritable(int64_t deadline) {
  for (;;) {
    if (signals_.Cancelled()) return false;
    int left = RemainingMs(deadline);
    if (left == 0) return false;
    pollfd fds[2] = {{fd_.Get(), POLLOUT, 0}, {signals_.CancelDescriptor(), POLLIN, 0}};
    int ready = ::poll(fds, 2, left);
    if (ready < 0 && errno != EINTR) return false;
    if (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) return true;  // write tells which
  }
}

bool TtyLine::DrainedBy(int64_t deadline) {
  // The kernel offers no event for "output queue empty", so look every
  // millisecond; devices that report no queue (pseudo-terminals) return at once.
  for (;;) {
    int queued = 0;
    if (ioctl(fd_.Get(), TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
    if (signals_.Cancelled() || RemainingMs(deadline) == 0) return false;
    signals_.Pause(1);
  }
}

int TtyLine::WriteSome(const uint8_t* bytes, int count, int waitMs) {
  if (!fd_) return -1;
  int64_t deadline = SteadyNowMs() + waitMs;
  for (;;) {
    ssize_t n = ::write(fd_.Get(), bytes, static_cast<size_t>(count));
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      if (!WaitWritable(deadline)) return 0;
      continue;
    }
    return -1;
  }
}

bool TtyLine::WaitDrained(int waitMs) {
  return !fd_ || DrainedBy(SteadyNowMs() + waitMs);
}

void TtyLine::Close() {
  if (!fd_) return;
  // Exclusive mode belongs to the line, not to our descriptor: while another
  // process holds the device (a simulator keeping a pseudo-terminal up) it
  // would outlive this close and make every later open fail with EBUSY.
  ::ioctl(fd_.Get(), TIOCNXCL);
  modem_.Attach(-1);
  fd_.Reset();
}

}  // namespace quorvel
