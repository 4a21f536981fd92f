#include "link/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "link/termios2_line.h"

namespace quorvel {
namespace {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int RemainingMs(int64_t deadline) {
  int64_t left = deadline - NowMs();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

SerialPort::SerialPort(ModemControl& modem) : modem_(modem) {}

SerialPort::~SerialPort() {
  Close();
}

void SerialPort::Show(StringId text) {
  if (WindowServices* window = window_.load()) window->ShowMessage(text);
}

bool SerialPort::Open(int portNumber, const LineParameters& line) {
  if (IsOpen()) Close();
  std::string path = names_.DevicePath(portNumber);
  if (path.empty() || !OpenDevice(path.c_str())) {
    Show(StringId::kOpenFail);
    return false;
  }
  ApplyLinesAtOpen();  // at once: the kernel has just raised both lines
  ResumeWaits();       // a fresh open starts with waits enabled again
  isOpen_.store(true, std::memory_order_release);
  SetConfig(line);
  FlushLine(fd_, 2);
  return true;
}

bool SerialPort::OpenDevice(const char* path) {
  int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // flock as well as TIOCEXCL: root is not kept out by TIOCEXCL alone.
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 ||
      !MakeLineRaw(fd)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void SerialPort::SetLinesAtOpen(LinesAtOpen lines) {
  linesAtOpen_ = lines;
  if (fd_ >= 0) SetHangUpOnClose(fd_, lines.dtrActive && lines.rtsActive);
}

void SerialPort::ApplyLinesAtOpen() {
  // A device without modem lines refuses both calls; that is no failure to open.
  unsigned active =
      (linesAtOpen_.dtrActive ? kLineDtr : 0) | (linesAtOpen_.rtsActive ? kLineRts : 0);
  if (unsigned inactive = kOutputLines & ~active) modem_.Drop(fd_, inactive);
  if (active) modem_.Raise(fd_, active);
  SetHangUpOnClose(fd_, linesAtOpen_.dtrActive && linesAtOpen_.rtsActive);
}

void SerialPort::SetConfig(const LineParameters& line) {
  if (!IsOpen()) return;
  ApplyLineParameters(fd_, line);
}

int SerialPort::Read(uint8_t* buffer, int capacity) {
  if (capacity <= 0 || !IsOpen()) return 0;
  ssize_t got;
  do {
    got = ::read(fd_, buffer, static_cast<size_t>(capacity));
  } while (got < 0 && errno == EINTR);
  return got > 0 ? static_cast<int>(got) : 0;
}

void SerialPort::Write(const uint8_t* bytes, int count) {
  if (!IsOpen()) return;
  bool failed = false;
  {
    std::lock_guard guard(writeMutex_);
    if (fd_ < 0) return;  // closed while this thread waited for the lock
    int64_t deadline = NowMs() + WriteBoundMs(count);
    int written = 0;
    while (written < count) {
      ssize_t n = ::write(fd_, bytes + written, static_cast<size_t>(count - written));
      if (n > 0) {
        written += static_cast<int>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && errno == EAGAIN) {
        if (!WaitWritable(deadline)) break;  // timed out or cancelled: a short write
      } else {
        failed = true;
        break;
      }
    }
    if (!failed) WaitForDrain(deadline);
  }
  // Shown without the write lock: the box waits for the user, and the other
  // thread may need to write meanwhile.
  if (failed) Show(StringId::kWriteFail);
}

bool SerialPort::WaitWritable(int64_t deadline) {
  for (;;) {
    if (cancelled_.load()) return false;
    int left = RemainingMs(deadline);
    if (left == 0) return false;
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {cancelEvent_.Descriptor(), POLLIN, 0}};
    int ready = ::poll(fds, 2, left);
    if (ready < 0 && errno != EINTR) return false;
    if (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) return true;  // write tells which
  }
}

void SerialPort::WaitForDrain(int64_t deadline) {
  if (!DrainedBy(deadline)) FlushLine(fd_, 1);
}

bool SerialPort::DrainedBy(int64_t deadline) {
  // The kernel offers no event for "output queue empty", so look every
  // millisecond; devices that report no queue (pseudo-terminals) return at once.
  for (;;) {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
    if (cancelled_.load() || RemainingMs(deadline) == 0) return false;
    Pause(1);
  }
}

void SerialPort::Pause(int ms) {
  pollfd cancel = {cancelEvent_.Descriptor(), POLLIN, 0};
  ::poll(&cancel, 1, ms);
}

void SerialPort::WaitReadable(int timeoutMs) {
  if (!IsOpen() || cancelled_.load()) return;
  pollfd fds[3] = {
      {fd_, POLLIN, 0}, {cancelEvent_.Descriptor(), POLLIN, 0}, {wake_.Descriptor(), POLLIN, 0}};
  int ready = ::poll(fds, 3, timeoutMs);
  if (ready <= 0) return;
  if (fds[2].revents & POLLIN) {
    wake_.Drain();
    return;
  }
  if (fds[0].revents & (POLLHUP | POLLERR)) {
    // Hung up: the descriptor stays "ready" for ever, and a hung-up terminal
    // even reports itself readable while every read returns nothing. Wait on
    // the cancel event alone so the caller's loop still rests.
    static constexpr int kHungUpRestMs = 250;
    Pause(timeoutMs < 0 || timeoutMs > kHungUpRestMs ? kHungUpRestMs : timeoutMs);
  }
}

void SerialPort::WakeReader() {
  wake_.Signal();
}

void SerialPort::CancelWaits() {
  cancelled_.store(true);
  cancelEvent_.Signal();
}

void SerialPort::ResumeWaits() {
  cancelEvent_.Drain();
  cancelled_.store(false);
}

void SerialPort::Close() {
  if (fd_ < 0) return;
  isOpen_.store(false, std::memory_order_release);
  CancelWaits();                       // a waiting reader or writer sees the close at once
  std::lock_guard guard(writeMutex_);  // let a write on another thread finish first
  // Exclusive mode belongs to the line, not to our descriptor: while another
  // process holds the device (a simulator keeping a pseudo-terminal up) it
  // would outlive this close and make every later open fail with EBUSY.
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

void SerialPort::SetWriteTimeouts(int perByteMs, int constantMs) {
  writePerByteMs_.store(perByteMs);
  writeConstantMs_.store(constantMs);
}

int64_t SerialPort::WriteBoundMs(int64_t count) const {
  return int64_t{writePerByteMs_.load()} * (count > 0 ? count : 0) + writeConstantMs_.load();
}

int SerialPort::WriteSome(const uint8_t* bytes, int count, int waitMs) {
  if (!IsOpen()) return -1;
  if (count <= 0) return 0;
  std::lock_guard guard(writeMutex_);
  if (fd_ < 0) return -1;  // closed while this thread waited for the lock
  int64_t deadline = NowMs() + waitMs;
  for (;;) {
    ssize_t n = ::write(fd_, bytes, static_cast<size_t>(count));
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      if (!WaitWritable(deadline)) return 0;
      continue;
    }
    return -1;
  }
}

bool SerialPort::WaitDrained(int waitMs) {
  std::lock_guard guard(writeMutex_);
  return fd_ < 0 || DrainedBy(NowMs() + waitMs);
}

}  // namespace quorvel
