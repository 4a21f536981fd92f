#include "connection/line_actions.h"

namespace quorvel {

void LineActions::Start(LineModem& modem) {
  Stop();
  {
    std::lock_guard guard(mutex_);
    running_ = true;
    stop_ = false;
    modem_ = &modem;
  }
  thread_ = std::thread([this, &modem] { Run(modem); });
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
    if (breaking_) modem_->DropQueuedOutput();
    changed_.notify_all();
  }
  thread_.join();
  std::lock_guard guard(mutex_);
  running_ = false;
}

void LineActions::Run(LineModem& modem) {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    Command command = queue_.front();
    queue_.pop_front();
    breaking_ = command.kind == Kind::kBreak;
    lock.unlock();
    Carry(modem, command);
    board_.Look(modem);
    lock.lock();
    breaking_ = false;
  }
}

void LineActions::Carry(LineModem& modem, const Command& command) {
  switch (command.kind) {
    case Kind::kRaise:
      modem.Raise(command.lines);
      break;
    case Kind::kDrop:
      modem.Drop(command.lines);
      break;
    case Kind::kPulse:
      Pulse(modem, command.lines);
      break;
    case Kind::kBreak:
      modem.SendBreak();
      break;
  }
}

void LineActions::Pulse(LineModem& modem, unsigned lines) {
  unsigned now = 0;
  if (!modem.GetLines(&now)) return;
  // An active line (the usual case: a reset) goes inactive and comes back; an
  // inactive one, kept low so that opening did not reset the board, is
  // pulsed the other way and ends inactive again.
  unsigned active = now & lines;
  unsigned inactive = lines & ~now;
  if (active) modem.Drop(active);
  if (inactive) modem.Raise(inactive);
  board_.Look(modem);
  {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kPulseLength, [this] { return stop_; });
  }
  if (active) modem.Raise(active);
  if (inactive) modem.Drop(inactive);
}

}  // namespace quorvel
