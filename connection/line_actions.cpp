#include "connection/line_actions.h"

#include "link/termios2_line.h"

namespace quorvel {

void LineActions::Start(ModemControl& modem, int fd) {
  Stop();
  {
    std::lock_guard guard(mutex_);
    running_ = true;
    stop_ = false;
    fd_ = fd;
  }
  thread_ = std::thread([this, &modem, fd] { Run(modem, fd); });
}

void LineActions::Request(Kind kind, unsigned lines) {
  std::lock_guard guard(mutex_);
  if (!running_ || stop_) return;
  queue_.push_back({kind, lines});
  changed_.notify_all();
}

void LineActions::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard guard(mutex_);
    stop_ = true;
    queue_.clear();
    // A break starts once the output queue has drained, which it never does
    // while the other side holds the line (hardware flow control): what is
    // still queued is dropped so that the break, and the close, can go on.
    if (breaking_) FlushLine(fd_, 1);
    changed_.notify_all();
  }
  thread_.join();
  std::lock_guard guard(mutex_);
  running_ = false;
}

void LineActions::Run(ModemControl& modem, int fd) {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    Command command = queue_.front();
    queue_.pop_front();
    breaking_ = command.kind == Kind::kBreak;
    lock.unlock();
    Carry(modem, fd, command);
    board_.Look(modem, fd);
    lock.lock();
    breaking_ = false;
  }
}

void LineActions::Carry(ModemControl& modem, int fd, const Command& command) {
  switch (command.kind) {
    case Kind::kRaise:
      modem.Raise(fd, command.lines);
      break;
    case Kind::kDrop:
      modem.Drop(fd, command.lines);
      break;
    case Kind::kPulse:
      Pulse(modem, fd, command.lines);
      break;
    case Kind::kBreak:
      modem.SendBreak(fd);
      break;
  }
}

void LineActions::Pulse(ModemControl& modem, int fd, unsigned lines) {
  unsigned now = 0;
  if (!modem.GetLines(fd, &now)) return;
  // An active line (the usual case: a reset) goes inactive and comes back; an
  // inactive one, kept low so that opening did not reset the board, is
  // pulsed the other way and ends inactive again.
  unsigned active = now & lines;
  unsigned inactive = lines & ~now;
  if (active) modem.Drop(fd, active);
  if (inactive) modem.Raise(fd, inactive);
  board_.Look(modem, fd);
  {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kPulseLength, [this] { return stop_; });
  }
  if (active) modem.Raise(fd, active);
  if (inactive) modem.Drop(fd, inactive);
}

}  // namespace quorvel
