#include "connection/line_actions.h"

namespace quorvel {
namespace {

constexpr char kClosed[] = "the link closed";
constexpr char kRefused[] = "the driver refused it";

void Tell(const LineActions::Finished& done, const Done& outcome) {
  if (done) done(outcome);
}

}  // namespace

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
  Order(kind, lines, std::chrono::milliseconds{0}, {});
}

void LineActions::Order(Kind kind, unsigned lines, std::chrono::milliseconds breakLength,
                        Finished done) {
  {
    std::lock_guard guard(mutex_);
    if (running_ && !stop_) {
      queue_.push_back({kind, lines, breakLength, std::move(done)});
      changed_.notify_all();
      return;
    }
  }
  Tell(done, Failure{kClosed});
}

void LineActions::Stop() {
  if (!thread_.joinable()) return;
  std::deque<Command> dropped;
  {
    std::lock_guard guard(mutex_);
    stop_ = true;
    dropped.swap(queue_);
    // A break starts once the output queue has drained, which it never does
    // while the other side holds the line (hardware flow control): what is
    // still queued is dropped so that the break, and the close, can go on.
    if (breaking_) modem_->DropQueuedOutput();
    changed_.notify_all();
  }
  thread_.join();
  {
    std::lock_guard guard(mutex_);
    running_ = false;
  }
  for (const Command& command : dropped) Tell(command.done, Failure{kClosed});
}

void LineActions::Run(LineModem& modem) {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    Command command = std::move(queue_.front());
    queue_.pop_front();
    breaking_ = command.kind == Kind::kBreak;
    lock.unlock();
    bool carried = Carry(modem, command);
    board_.Look(modem);
    Tell(command.done, carried ? Done{} : Done{Failure{kRefused}});
    lock.lock();
    breaking_ = false;
  }
}

bool LineActions::Carry(LineModem& modem, const Command& command) {
  switch (command.kind) {
    case Kind::kRaise:
      return modem.Raise(command.lines);
    case Kind::kDrop:
      return modem.Drop(command.lines);
    case Kind::kPulse:
      return Pulse(modem, command.lines);
    case Kind::kBreak:
      if (command.breakLength.count() > 0) return TimedBreak(modem, command.breakLength);
      return modem.SendBreak();
  }
  return false;
}

bool LineActions::Pulse(LineModem& modem, unsigned lines) {
  unsigned now = 0;
  if (!modem.GetLines(&now)) return false;
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
  bool back = true;
  if (active) back = modem.Raise(active) && back;
  if (inactive) back = modem.Drop(inactive) && back;
  return back;
}

bool LineActions::TimedBreak(LineModem& modem, std::chrono::milliseconds length) {
  // Setting the break waits for the output queue to drain, as a timed break
  // of the driver's own does; Stop drops that queue meanwhile.
  if (!modem.SetBreak(true)) return false;
  {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, length, [this] { return stop_; });
  }
  return modem.SetBreak(false);
}

}  // namespace quorvel
