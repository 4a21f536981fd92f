#include "link/network_line.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "core/clock.h"

namespace quorvel {
namespace {

using Clock = std::chrono::steady_clock;

// Data is queued in pieces of this size at most, so a long write never makes
// the queue hold more than this beyond what the socket has not taken.
constexpr size_t kChunk = 64 * 1024;

std::string Describe(const NetworkAddress& address) {
  bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + address.port;
}

}  // namespace

struct NetworkLine::Attempt {
  std::mutex mutex;
  bool finished = false;
  bool abandoned = false;
  int fd = -1;
  int error = 0;
  std::string reason;
  EventFd stop;     // signalled when the attempt is abandoned
  int doneFd = -1;  // the port's "attempt over" signal, our own copy of it
  Clock::time_point deadline;
};

namespace {

// On the attempt's own thread: resolve, then try each address in turn until
// one connects, the deadline passes or the attempt is abandoned.
void RunAttempt(const std::shared_ptr<NetworkLine::Attempt>& attempt, NetworkAddress address);

}  // namespace

NetworkLine::NetworkLine(const EventFd& cancel) : cancel_(cancel) {}

NetworkLine::~NetworkLine() {
  Close();
}

void NetworkLine::StartConnect(const NetworkAddress& address, const EventFd& done) {
  AbandonConnect();
  kind_ = address.kind;
  failure_.clear();
  auto attempt = std::make_shared<Attempt>();
  attempt->deadline = Clock::now() + kConnectLimit;
  attempt->doneFd = ::fcntl(done.Descriptor(), F_DUPFD_CLOEXEC, 0);
  attempt_ = attempt;
  std::thread([attempt, address] { RunAttempt(attempt, address); }).detach();
}

void NetworkLine::AbandonConnect() {
  if (!attempt_) return;
  std::shared_ptr<Attempt> attempt = std::move(attempt_);
  std::lock_guard guard(attempt->mutex);
  attempt->abandoned = true;
  attempt->stop.Signal();
  if (attempt->finished && attempt->fd >= 0) {
    ::close(attempt->fd);
    attempt->fd = -1;
  }
}

int NetworkLine::FinishConnect(const LineParameters& line, LinesAtOpen lines) {
  if (!attempt_) return ENOTCONN;
  int fd;
  {
    std::lock_guard guard(attempt_->mutex);
    if (!attempt_->finished) {
      if (Clock::now() < attempt_->deadline) return EINPROGRESS;
      fd = -2;  // past the limit: given up below
    } else {
      fd = attempt_->fd;
      attempt_->fd = -1;
      failure_ = attempt_->reason;
    }
  }
  if (fd == -2) {
    AbandonConnect();
    failure_ = "no answer within 5 s";
    return ETIMEDOUT;
  }
  int error = attempt_->error;
  attempt_.reset();
  if (fd < 0) return error != 0 ? error : EIO;

  // The session begins.
  std::vector<uint8_t> start;
  {
    std::lock_guard guard(outMutex_);
    out_.clear();
    outSent_ = 0;
    broken_.store(false);
    telnet_ = kind_ == NetworkKind::kRfc2217;
    fd_.store(fd);
  }
  {
    std::lock_guard guard(readMutex_);
    codec_ = kind_ == NetworkKind::kRfc2217 ? std::make_unique<telnet::TelnetCodec>(true) : nullptr;
    held_.clear();
    if (codec_) {
      codec_->Start(start);
      // RFC 2217 commands wait until the server has agreed to the option.
      telnet::AppendLineSettings(held_, line);
      telnet::AppendComPortByte(held_, telnet::kSetControl,
                                lines.dtrActive ? telnet::kControlDtrOn : telnet::kControlDtrOff);
      telnet::AppendComPortByte(held_, telnet::kSetControl,
                                lines.rtsActive ? telnet::kControlRtsOn : telnet::kControlRtsOff);
      // No SET-MODEMSTATE-MASK: the server's default reports every line, and
      // ser2net in front of a pseudo-terminal stops passing data after one.
    }
  }
  {
    std::lock_guard guard(modemMutex_);
    serverRate_ = 0;
    inputLines_ = 0;
    outputLines_ = (lines.dtrActive ? kLineDtr : 0) | (lines.rtsActive ? kLineRts : 0);
    lines_ = codec_ ? Lines::kPending : Lines::kUnavailable;
    // Until the server agrees to RFC 2217 and then answers, or this passes.
    answerDeadline_ = Clock::now() + 2 * kAnswerLimit;
    ++modemGeneration_;
  }
  modemChanged_.notify_all();
  if (!start.empty()) Queue(start);
  return 0;
}

bool NetworkLine::Queue(const std::vector<uint8_t>& units) {
  std::lock_guard guard(outMutex_);
  if (fd_.load() < 0 || broken_.load()) return false;
  if (out_.size() - outSent_ + units.size() > kMaxQueued) {
    MarkBroken();  // the server reads nothing and asks for ever more
    return false;
  }
  out_.insert(out_.end(), units.begin(), units.end());
  return FlushLocked();
}

bool NetworkLine::FlushLocked() {
  int fd = fd_.load();
  if (fd < 0 || broken_.load()) return false;
  while (outSent_ < out_.size()) {
    ssize_t n =
        ::send(fd, out_.data() + outSent_, out_.size() - outSent_, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      outSent_ += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      MarkBroken();
      return false;
    }
  }
  if (outSent_ == out_.size()) {
    out_.clear();
    outSent_ = 0;
  } else if (outSent_ >= kChunk) {
    out_.erase(out_.begin(), out_.begin() + static_cast<ptrdiff_t>(outSent_));
    outSent_ = 0;
  }
  return true;
}

void NetworkLine::MarkBroken() {
  broken_.store(true);
  // The reader's wait ends and its next read finds the end of the stream.
  int fd = fd_.load();
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
  modemChanged_.notify_all();
}

int NetworkLine::Read(uint8_t* buffer, int capacity) {
  int fd = fd_.load();
  if (fd < 0 || capacity <= 0) return 0;
  // A read that brings only telnet commands is followed by another, so that
  // a command amid the data does not look like a quiet line.
  for (int tries = 0; tries < 8; ++tries) {
    ssize_t got = ::recv(fd, buffer, static_cast<size_t>(capacity), MSG_DONTWAIT);
    if (got == 0) return -1;  // the server closed the connection
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return broken_.load() ? -1 : 0;
      return -1;
    }
    std::vector<uint8_t> release;
    size_t data;
    {
      std::lock_guard guard(readMutex_);
      if (!codec_) return static_cast<int>(got);
      replies_.clear();
      notices_.clear();
      data = codec_->Decode(buffer, static_cast<size_t>(got), buffer, replies_, notices_);
      if (!replies_.empty()) Queue(replies_);
      if (codec_->ComPortAccepted() && !held_.empty()) release.swap(held_);
    }
    TakeNotices(notices_);
    if (!release.empty()) {
      {
        std::lock_guard guard(modemMutex_);
        if (lines_ == Lines::kPending) answerDeadline_ = Clock::now() + kAnswerLimit;
      }
      modemChanged_.notify_all();
      Queue(release);
    }
    if (data > 0) return static_cast<int>(data);
  }
  return 0;
}

void NetworkLine::TakeNotices(const std::vector<telnet::ComPortNotice>& notices) {
  if (notices.empty()) return;
  {
    std::lock_guard guard(modemMutex_);
    for (const telnet::ComPortNotice& notice : notices) {
      switch (notice.command) {
        case telnet::kSetBaudRate:
          if (notice.size >= 4) serverRate_ = notice.value;
          break;
        case telnet::kSetControl:
          switch (notice.value) {
            case telnet::kControlDtrOn:
              outputLines_ |= kLineDtr;
              break;
            case telnet::kControlDtrOff:
              outputLines_ &= ~kLineDtr;
              break;
            case telnet::kControlRtsOn:
              outputLines_ |= kLineRts;
              break;
            case telnet::kControlRtsOff:
              outputLines_ &= ~kLineRts;
              break;
            default:
              continue;  // flow control, break: nothing of the lines
          }
          lines_ = Lines::kAvailable;
          break;
        case telnet::kNotifyModemState: {
          unsigned lines = 0;
          if (notice.value & telnet::kModemCts) lines |= kLineCts;
          if (notice.value & telnet::kModemDsr) lines |= kLineDsr;
          if (notice.value & telnet::kModemDcd) lines |= kLineDcd;
          if (notice.value & telnet::kModemRi) lines |= kLineRi;
          // A server that cannot read the lines reports them all inactive
          // (ser2net on a pseudo-terminal): only an answer about DTR or RTS
          // shows that the far port has modem lines.
          inputLines_ = lines;
          break;
        }
        default:
          continue;
      }
      ++modemGeneration_;
    }
  }
  modemChanged_.notify_all();
}

bool NetworkLine::WaitReadable(int timeoutMs, EventFd& wake) {
  int fd = fd_.load();
  if (fd < 0) return false;
  int64_t deadline = timeoutMs < 0 ? -1 : SteadyNowMs() + timeoutMs;
  for (;;) {
    bool pending;
    {
      std::lock_guard guard(outMutex_);
      pending = outSent_ < out_.size();
    }
    pollfd fds[3] = {{fd, static_cast<short>(POLLIN | (pending ? POLLOUT : 0)), 0},
                     {cancel_.Descriptor(), POLLIN, 0},
                     {wake.Descriptor(), POLLIN, 0}};
    int ready = ::poll(fds, 3, deadline < 0 ? -1 : RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return true;
    if (fds[2].revents & POLLIN) {
      wake.Drain();
      return true;
    }
    if (fds[1].revents & POLLIN) return true;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) return true;
    if (fds[0].revents & POLLOUT) {
      std::lock_guard guard(outMutex_);
      FlushLocked();
    }
  }
}

bool NetworkLine::WaitWritable(int64_t deadline) {
  int fd = fd_.load();
  for (;;) {
    if (fd < 0 || broken_.load()) return false;
    int left = RemainingMs(deadline);
    if (left == 0) return false;
    pollfd fds[2] = {{fd, POLLOUT, 0}, {cancel_.Descriptor(), POLLIN, 0}};
    int ready = ::poll(fds, 2, left);
    if (ready < 0 && errno != EINTR) return false;
    if (fds[1].revents & POLLIN) return false;
    if (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) return true;
  }
}

bool NetworkLine::Write(const uint8_t* bytes, int count, int64_t deadline) {
  size_t at = 0;
  size_t total = count > 0 ? static_cast<size_t>(count) : 0;
  for (;;) {
    {
      std::lock_guard guard(outMutex_);
      if (fd_.load() < 0 || broken_.load()) return false;
      while (at < total && out_.size() - outSent_ < kChunk) {
        size_t piece = std::min(total - at, kChunk);
        if (telnet_) {
          telnet::AppendData(out_, bytes + at, piece);
        } else {
          out_.insert(out_.end(), bytes + at, bytes + at + piece);
        }
        at += piece;
        if (!FlushLocked()) return false;
      }
      if (!FlushLocked()) return false;
      if (at == total && outSent_ == out_.size()) return true;
    }
    // Timed out or cancelled: a short write; what is queued goes later.
    if (!WaitWritable(deadline)) return !broken_.load();
  }
}

int NetworkLine::WriteSome(const uint8_t* bytes, int count, int waitMs) {
  if (count <= 0) return 0;
  int64_t deadline = SteadyNowMs() + waitMs;
  for (;;) {
    {
      std::lock_guard guard(outMutex_);
      if (fd_.load() < 0 || broken_.load()) return -1;
      if (!FlushLocked()) return -1;
      if (out_.size() - outSent_ < kChunk) {
        size_t piece = std::min(static_cast<size_t>(count), kChunk);
        if (telnet_) {
          telnet::AppendData(out_, bytes, piece);
        } else {
          out_.insert(out_.end(), bytes, bytes + piece);
        }
        if (!FlushLocked()) return -1;
        return static_cast<int>(piece);
      }
    }
    if (!WaitWritable(deadline)) return broken_.load() ? -1 : 0;
  }
}

bool NetworkLine::WaitDrained(int waitMs) {
  int64_t deadline = SteadyNowMs() + waitMs;
  for (;;) {
    {
      std::lock_guard guard(outMutex_);
      if (fd_.load() < 0 || broken_.load()) return true;
      FlushLocked();
      if (outSent_ == out_.size()) return true;
    }
    if (!WaitWritable(deadline)) return false;
  }
}

void NetworkLine::SetConfig(const LineParameters& line) {
  std::vector<uint8_t> units;
  {
    std::lock_guard guard(readMutex_);
    if (!codec_) return;  // raw TCP: the line settings stay here
    if (!codec_->ComPortAccepted()) {
      // Kept for the server's agreement; a server that never agrees gets no
      // more than a bounded backlog of them.
      if (held_.size() < kMaxHeld) telnet::AppendLineSettings(held_, line);
      return;
    }
  }
  telnet::AppendLineSettings(units, line);
  Queue(units);
}

uint32_t NetworkLine::ServerRate() const {
  std::lock_guard guard(modemMutex_);
  return serverRate_;
}

void NetworkLine::SendControl(uint8_t value) {
  std::vector<uint8_t> units;
  telnet::AppendComPortByte(units, telnet::kSetControl, value);
  {
    std::lock_guard guard(readMutex_);
    if (codec_ && !codec_->ComPortAccepted()) {
      if (held_.size() < kMaxHeld) held_.insert(held_.end(), units.begin(), units.end());
      return;
    }
  }
  Queue(units);
}

void NetworkLine::Release() {
  std::lock_guard guard(outMutex_);
  int fd = fd_.load();
  broken_.store(true);
  if (fd >= 0) {
    // As a hung-up tty: the number stays ours (a harmless file) until Close.
    int placeholder = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (placeholder >= 0) {
      ::dup3(placeholder, fd, O_CLOEXEC);
      ::close(placeholder);
    }
  }
  modemChanged_.notify_all();
}

void NetworkLine::Close() {
  AbandonConnect();
  {
    std::lock_guard guard(outMutex_);
    int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
    out_.clear();
    outSent_ = 0;
    broken_.store(false);
  }
  {
    std::lock_guard guard(readMutex_);
    codec_.reset();
    held_.clear();
  }
  {
    std::lock_guard guard(modemMutex_);
    lines_ = Lines::kUnavailable;
    ++modemGeneration_;
  }
  modemChanged_.notify_all();
}

// NetworkModem

bool NetworkModem::GetLines(int, unsigned* lines) {
  std::lock_guard guard(line_.modemMutex_);
  if (line_.lines_ == NetworkLine::Lines::kPending &&
      std::chrono::steady_clock::now() >= line_.answerDeadline_) {
    line_.lines_ = NetworkLine::Lines::kUnavailable;
  }
  if (line_.lines_ == NetworkLine::Lines::kUnavailable || line_.fd_.load() < 0 ||
      line_.broken_.load()) {
    return false;
  }
  *lines = line_.outputLines_ | line_.inputLines_;
  return true;
}

bool NetworkModem::Raise(int, unsigned lines) {
  {
    std::lock_guard guard(line_.modemMutex_);
    if (line_.lines_ == NetworkLine::Lines::kUnavailable) return false;
    line_.outputLines_ |= lines & kOutputLines;
  }
  if (lines & kLineDtr) line_.SendControl(telnet::kControlDtrOn);
  if (lines & kLineRts) line_.SendControl(telnet::kControlRtsOn);
  return true;
}

bool NetworkModem::Drop(int, unsigned lines) {
  {
    std::lock_guard guard(line_.modemMutex_);
    if (line_.lines_ == NetworkLine::Lines::kUnavailable) return false;
    line_.outputLines_ &= ~(lines & kOutputLines);
  }
  if (lines & kLineDtr) line_.SendControl(telnet::kControlDtrOff);
  if (lines & kLineRts) line_.SendControl(telnet::kControlRtsOff);
  return true;
}

ModemWait NetworkModem::WaitForChange(int) {
  std::unique_lock lock(line_.modemMutex_);
  uint64_t generation = line_.modemGeneration_;
  uint64_t interrupts = line_.interrupts_;
  for (;;) {
    if (line_.fd_.load() < 0 || line_.broken_.load()) return ModemWait::kFailed;
    if (line_.modemGeneration_ != generation) return ModemWait::kChanged;
    if (line_.interrupts_ != interrupts) return ModemWait::kInterrupted;
    if (line_.lines_ == NetworkLine::Lines::kPending) {
      if (std::chrono::steady_clock::now() >= line_.answerDeadline_) {
        line_.lines_ = NetworkLine::Lines::kUnavailable;  // the server never answered
        return ModemWait::kChanged;
      }
      line_.modemChanged_.wait_until(lock, line_.answerDeadline_);
    } else {
      line_.modemChanged_.wait(lock);
    }
  }
}

void NetworkModem::InterruptWait(pthread_t) {
  {
    std::lock_guard guard(line_.modemMutex_);
    ++line_.interrupts_;
  }
  line_.modemChanged_.notify_all();
}

bool NetworkModem::SendBreak(int) {
  if (line_.fd_.load() < 0) return false;
  line_.SendControl(telnet::kControlBreakOn);
  std::this_thread::sleep_for(NetworkLine::kBreakLength);
  line_.SendControl(telnet::kControlBreakOff);
  return true;
}

namespace {

void RunAttempt(const std::shared_ptr<NetworkLine::Attempt>& attempt, NetworkAddress address) {
  int fd = -1;
  int error = 0;
  std::string reason;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int resolved = ::getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &list);
  if (resolved != 0) {
    error = EHOSTUNREACH;
    reason = "cannot resolve " + address.host + ": " + ::gai_strerror(resolved);
  }
  for (addrinfo* at = list; at != nullptr && fd < 0; at = at->ai_next) {
    int socket =
        ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
    if (socket < 0) {
      error = errno;
      continue;
    }
    int result = ::connect(socket, at->ai_addr, at->ai_addrlen);
    if (result != 0 && errno == EINPROGRESS) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(attempt->deadline - Clock::now());
      pollfd fds[2] = {{socket, POLLOUT, 0}, {attempt->stop.Descriptor(), POLLIN, 0}};
      int ready;
      do {
        ready = ::poll(fds, 2, left.count() > 0 ? static_cast<int>(left.count()) : 0);
      } while (ready < 0 && errno == EINTR);
      if (ready == 0) {
        errno = ETIMEDOUT;
      } else if (fds[1].revents & POLLIN) {
        errno = ECANCELED;
      } else {
        int soError = 0;
        socklen_t size = sizeof soError;
        ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &soError, &size);
        errno = soError;
        result = soError == 0 ? 0 : -1;
      }
    }
    if (result == 0) {
      fd = socket;
      break;
    }
    error = errno;
    ::close(socket);
    if (error == ETIMEDOUT || error == ECANCELED) break;
  }
  if (list != nullptr) ::freeaddrinfo(list);
  if (fd >= 0) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // a byte typed goes at once
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    error = 0;
  } else if (reason.empty()) {
    reason = Describe(address) + ": " +
             (error == ETIMEDOUT ? std::string("no answer within 5 s") : std::strerror(error));
  }
  {
    std::lock_guard guard(attempt->mutex);
    attempt->finished = true;
    attempt->error = fd >= 0 ? 0 : (error != 0 ? error : EIO);
    attempt->reason = reason;
    if (attempt->abandoned) {
      if (fd >= 0) ::close(fd);
    } else {
      attempt->fd = fd;
    }
  }
  uint64_t one = 1;
  if (attempt->doneFd >= 0) {
    ssize_t ignored = ::write(attempt->doneFd, &one, sizeof one);
    (void)ignored;
    ::close(attempt->doneFd);
    attempt->doneFd = -1;
  }
}

}  // namespace

}  // namespace quorvel
