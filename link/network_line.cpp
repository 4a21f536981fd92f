#include "link/network_line.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/clock.h"

namespace quorvel {
namespace {

// Data is queued in pieces of this size at most, so a long write never makes
// the queue hold more than this beyond what the socket has not taken.
constexpr size_t kChunk = 64 * 1024;

}  // namespace

OpenOutcome NetworkLine::Open(const PortTarget& target, const LineParameters&, LinesAtOpen) {
  kind_ = target.Address().kind;
  connectDone_.Drain();
  connector_.Start(target.Address(), connectDone_);
  return OpenOutcome::Connecting();
}

OpenOutcome NetworkLine::FinishConnect(const LineParameters& line, LinesAtOpen lines) {
  connectDone_.Drain();
  NetworkConnector::Outcome outcome = connector_.Finish();
  if (outcome.error == EINPROGRESS) return OpenOutcome::Connecting();
  if (outcome.error != 0) {
    return OpenOutcome::Failed(PortFailure::Step::kConnect, outcome.error, outcome.reason);
  }

  // The session begins.
  {
    std::lock_guard guard(outMutex_);
    out_.clear();
    outSent_ = 0;
    broken_.store(false);
    telnet_ = kind_ == NetworkKind::kRfc2217;
    socket_ = std::move(outcome.socket);
  }
  session_.Begin(kind_ == NetworkKind::kRfc2217, line, lines);
  return OpenOutcome::Opened();
}

bool NetworkLine::Queue(const std::vector<uint8_t>& units) {
  std::lock_guard guard(outMutex_);
  if (!socket_ || broken_.load()) return false;
  if (out_.size() - outSent_ + units.size() > kMaxQueued) {
    MarkBroken();  // the server reads nothing and asks for ever more
    return false;
  }
  out_.insert(out_.end(), units.begin(), units.end());
  return FlushLocked();
}

bool NetworkLine::FlushLocked() {
  if (!socket_ || broken_.load()) return false;
  while (outSent_ < out_.size()) {
    ssize_t n = ::send(socket_.Get(), out_.data() + outSent_, out_.size() - outSent_,
                       MSG_DONTWAIT | MSG_NOSIGNAL);
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

void NetworkLine::AppendDataLocked(const uint8_t* bytes, size_t count) {
  if (telnet_) {
    telnet::AppendData(out_, bytes, count);
  } else {
    out_.insert(out_.end(), bytes, bytes + count);
  }
}

void NetworkLine::MarkBroken() {
  broken_.store(true);
  // The reader's wait ends and its next read finds the end of the stream.
  if (socket_) ::shutdown(socket_.Get(), SHUT_RDWR);
  session_.Broken();
}

ConfigOutcome NetworkLine::SetConfig(const LineParameters& line) {
  session_.SetConfig(line);
  return {true, line.baudRate.value_or(session_.ServerRate())};
}

int NetworkLine::Read(uint8_t* buffer, int capacity) {
  int fd = socket_.Get();
  if (fd < 0 || capacity <= 0) return 0;
  // A writer found it broken: what may still be buffered is not taken.
  if (broken_.load()) return -1;
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
    size_t data = session_.Decode(buffer, static_cast<size_t>(got));
    if (data > 0) return static_cast<int>(data);
  }
  return 0;
}

void NetworkLine::WaitReadable(int timeoutMs) {
  int fd = socket_.Get();
  if (fd < 0) return;
  int64_t deadline = timeoutMs < 0 ? -1 : SteadyNowMs() + timeoutMs;
  for (;;) {
    bool pending;
    {
      std::lock_guard guard(outMutex_);
      pending = outSent_ < out_.size();
    }
    pollfd fds[3] = {{fd, static_cast<short>(POLLIN | (pending ? POLLOUT : 0)), 0},
                     {signals_.CancelDescriptor(), POLLIN, 0},
                     {signals_.WakeDescriptor(), POLLIN, 0}};
    int ready = ::poll(fds, 3, deadline < 0 ? -1 : RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    if (fds[2].revents & POLLIN) {
      signals_.TakeWake();
      return;
    }
    if (fds[1].revents & POLLIN) return;
    // A hang-up or an error: the next read finds it.
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) return;
    if (fds[0].revents & POLLOUT) {
      std::lock_guard guard(outMutex_);
      FlushLocked();
    }
  }
}

bool NetworkLine::WaitWritable(int64_t deadline) {
  int fd = socket_.Get();
  for (;;) {
    if (fd < 0 || broken_.load()) return false;
    int left = RemainingMs(deadline);
    if (left == 0) return false;
    pollfd fds[2] = {{fd, POLLOUT, 0}, {signals_.CancelDescriptor(), POLLIN, 0}};
    int ready = ::poll(fds, 2, left);
    if (ready < 0 && errno != EINTR) return false;
    if (fds[1].revents & POLLIN) return false;
    if (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) return true;
  }
}

int NetworkLine::Write(const uint8_t* bytes, int count, int64_t deadline) {
  if (Send(bytes, count, deadline)) return 0;
  HandBrokenToReader();
  return EPIPE;
}

int NetworkLine::WriteSome(const uint8_t* bytes, int count, int waitMs) {
  int taken = Offer(bytes, count, waitMs);
  if (taken < 0) HandBrokenToReader();
  return taken;
}

void NetworkLine::HandBrokenToReader() {
  signals_.MarkHungUp();
  signals_.WakeReader();
}

bool NetworkLine::Send(const uint8_t* bytes, int count, int64_t deadline) {
  size_t at = 0;
  size_t total = count > 0 ? static_cast<size_t>(count) : 0;
  for (;;) {
    {
      std::lock_guard guard(outMutex_);
      if (!socket_ || broken_.load()) return false;
      while (at < total && out_.size() - outSent_ < kChunk) {
        size_t piece = std::min(total - at, kChunk);
        AppendDataLocked(bytes + at, piece);
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

int NetworkLine::Offer(const uint8_t* bytes, int count, int waitMs) {
  if (count <= 0) return 0;
  int64_t deadline = SteadyNowMs() + waitMs;
  for (;;) {
    {
      std::lock_guard guard(outMutex_);
      if (!socket_ || broken_.load()) return -1;
      if (!FlushLocked()) return -1;
      if (out_.size() - outSent_ < kChunk) {
        size_t piece = std::min(static_cast<size_t>(count), kChunk);
        AppendDataLocked(bytes, piece);
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
      if (!socket_ || broken_.load()) return true;
      FlushLocked();
      if (outSent_ == out_.size()) return true;
    }
    if (!WaitWritable(deadline)) return false;
  }
}

void NetworkLine::Release() {
  {
    std::lock_guard guard(outMutex_);
    broken_.store(true);
    StandInForDeadLine(socket_.Get());
  }
  session_.Broken();
}

void NetworkLine::Close() {
  connector_.Abandon();
  connectDone_.Drain();  // what an attempt said before it was abandoned
  {
    std::lock_guard guard(outMutex_);
    socket_.Reset();
    out_.clear();
    outSent_ = 0;
    broken_.store(false);
  }
  session_.End();
}

}  // namespace quorvel
