#include "link/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "core/clock.h"
#include "link/termios2_line.h"

namespace quorvel {

SerialPort::SerialPort(ModemControl& modem) : modem_(modem) {}

SerialPort::~SerialPort() {
  Close();
}

void SerialPort::Show(StringId text) {
  if (WindowServices* window = window_.load()) window->ShowMessage(text);
}

bool SerialPort::Open(int portNumber, const LineParameters& line) {
  Close();  // also what is left of a line that hung up
  std::string path = names_.DevicePath(portNumber);
  if (IsNetworkPath(path)) {
    std::optional<NetworkAddress> address = ParseNetworkAddress(path);
    if (!address) {
      Show(StringId::kOpenFail);
      return false;
    }
    network_.store(true);
    path_ = path;
    pendingLine_ = line;
    connectDone_.Drain();
    net_.StartConnect(*address, connectDone_);
    return false;  // not open yet: Connecting()
  }
  network_.store(false);
  if (path.empty() || OpenPath(path, line) != 0) {
    Show(StringId::kOpenFail);
    return false;
  }
  return true;
}

int SerialPort::Reopen(const LineParameters& line) {
  Close();  // also what is left of a line that hung up
  if (network_.load()) {
    std::optional<NetworkAddress> address = ParseNetworkAddress(path_);
    if (!address) return EINVAL;
    pendingLine_ = line;
    connectDone_.Drain();
    net_.StartConnect(*address, connectDone_);
    return EINPROGRESS;
  }
  return path_.empty() ? ENOENT : OpenPath(path_, line);
}

int SerialPort::FinishConnect() {
  connectDone_.Drain();
  if (!network_.load()) return ENOTCONN;
  int error = net_.FinishConnect(pendingLine_, linesAtOpen_);
  if (error != 0) return error;
  markedHungUp_.store(false);
  hungUp_.Drain();  // a hang-up of an earlier connection is over
  ResumeWaits();
  isOpen_.store(true, std::memory_order_release);
  return 0;
}

int SerialPort::OpenPath(const std::string& path, const LineParameters& line) {
  if (int error = OpenDevice(path.c_str()); error != 0) return error;
  path_ = path;
  markedHungUp_.store(false);
  hungUp_.Drain();     // a hang-up of an earlier open is over
  ApplyLinesAtOpen();  // at once: the kernel has just raised both lines
  ResumeWaits();       // a fresh open starts with waits enabled again
  isOpen_.store(true, std::memory_order_release);
  SetConfig(line);
  FlushLine(fd_, 2);
  return 0;
}

int SerialPort::OpenDevice(const char* path) {
  int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  // flock as well as TIOCEXCL: root is not kept out by TIOCEXCL alone.
  int error = 0;
  if (!isatty(fd)) {
    error = ENOTTY;
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    error = EBUSY;
  } else if (!MakeLineRaw(fd)) {
    error = errno != 0 ? errno : EIO;
  }
  if (error != 0) {
    ::close(fd);
    return error;
  }
  std::lock_guard guard(writeMutex_);
  fd_ = fd;
  return 0;
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

ConfigOutcome SerialPort::SetConfig(const LineParameters& line) {
  ConfigOutcome outcome;
  if (!IsOpen()) return outcome;
  if (network_.load()) {
    net_.SetConfig(line);  // RFC 2217: to the far port; raw TCP: kept here
    outcome.applied = true;
    outcome.rate = line.baudRate.value_or(net_.ServerRate());
    return outcome;
  }
  std::lock_guard guard(writeMutex_);  // the reader may close a hung-up line meanwhile
  if (fd_ < 0) return outcome;
  outcome.applied = ApplyLineParameters(fd_, line);
  LineSnapshot now;
  if (ReadLineSnapshot(fd_, &now)) outcome.rate = now.outputSpeed;
  return outcome;
}

uint32_t SerialPort::RateInForce() const {
  if (network_.load()) return IsOpen() ? net_.ServerRate() : 0;
  LineSnapshot now;
  return IsOpen() && fd_ >= 0 && ReadLineSnapshot(fd_, &now) ? now.outputSpeed : 0;
}

int SerialPort::Read(uint8_t* buffer, int capacity) {
  if (capacity <= 0 || !IsOpen()) return 0;
  if (network_.load()) {
    int got = markedHungUp_.load() ? -1 : net_.Read(buffer, capacity);
    if (got >= 0) return got;
    DropHungUpLine();  // the server closed the connection, or it broke
    return 0;
  }
  ssize_t got;
  do {
    got = ::read(fd_, buffer, static_cast<size_t>(capacity));
  } while (got < 0 && errno == EINTR);
  if (got > 0) return static_cast<int>(got);
  // A raw line with nothing buffered reads 0 bytes whether or not it hung
  // up, so a hang-up seen by a wait or a write closes it once the bytes that
  // came before it are taken.
  if (markedHungUp_.load() || (got < 0 && IsHangupError(errno))) DropHungUpLine();
  return 0;
}

bool SerialPort::IsHangupError(int error) {
  return error == EIO || error == ENXIO || error == ENODEV;
}

void SerialPort::DropHungUpLine() {
  isOpen_.store(false, std::memory_order_release);
  CancelWaits();  // a writer waiting for room lets go of the descriptor
  {
    std::lock_guard guard(writeMutex_);
    ReleaseDevice();
  }
  markedHungUp_.store(false);
  hungUp_.Signal();
}

void SerialPort::ReleaseDevice() {
  if (network_.load()) {
    net_.Release();
    return;
  }
  // /dev/null takes the dead device's place under the same number: the
  // kernel lets go of the device now, while threads that still hold the
  // number (the modem-line watch) meet a harmless file instead of whatever
  // the number would name after a close. Close() closes it on the UI thread.
  int placeholder = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (placeholder >= 0) {
    ::dup3(placeholder, fd_, O_CLOEXEC);
    ::close(placeholder);
  }
}

void SerialPort::Write(const uint8_t* bytes, int count) {
  if (!IsOpen()) return;
  bool failed = false;
  {
    std::lock_guard guard(writeMutex_);
    if (!IsOpen()) return;  // closed while this thread waited for the lock
    int64_t deadline = SteadyNowMs() + WriteBoundMs(count);
    if (network_.load()) {
      // Nothing waits for the far port's queue: the bytes are the socket's.
      if (!net_.Write(bytes, count, deadline)) {
        failed = true;
        markedHungUp_.store(true);
        WakeReader();  // the reader lets go of the dead connection
      }
    } else {
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
          if (n < 0 && IsHangupError(errno)) {
            markedHungUp_.store(true);
            WakeReader();  // the reader closes the dead line
          }
          break;
        }
      }
      if (!failed) WaitForDrain(deadline);
    }
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
  if (markedHungUp_.load()) return;  // the next read closes the line
  if (network_.load()) {
    net_.WaitReadable(timeoutMs, wake_);
    return;
  }
  pollfd fds[3] = {
      {fd_, POLLIN, 0}, {cancelEvent_.Descriptor(), POLLIN, 0}, {wake_.Descriptor(), POLLIN, 0}};
  int ready = ::poll(fds, 3, timeoutMs);
  if (ready <= 0) return;
  if (fds[2].revents & POLLIN) {
    wake_.Drain();
    return;
  }
  if (fds[0].revents & (POLLHUP | POLLERR)) markedHungUp_.store(true);
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
  if (network_.load()) {
    isOpen_.store(false, std::memory_order_release);
    CancelWaits();
    std::lock_guard guard(writeMutex_);
    net_.Close();
    return;
  }
  if (fd_ < 0) return;  // fd_ changes on this thread only
  isOpen_.store(false, std::memory_order_release);
  CancelWaits();                       // a waiting reader or writer sees the close at once
  std::lock_guard guard(writeMutex_);  // let a write on another thread finish first
  CloseDescriptor();
}

void SerialPort::CloseDescriptor() {
  if (fd_ < 0) return;
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
  if (network_.load()) {
    int taken = IsOpen() ? net_.WriteSome(bytes, count, waitMs) : -1;
    if (taken < 0 && IsOpen()) {
      markedHungUp_.store(true);
      WakeReader();
    }
    return taken;
  }
  if (fd_ < 0) return -1;  // closed while this thread waited for the lock
  int64_t deadline = SteadyNowMs() + waitMs;
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
  if (network_.load()) return !IsOpen() || net_.WaitDrained(waitMs);
  return fd_ < 0 || DrainedBy(SteadyNowMs() + waitMs);
}

}  // namespace quorvel
