#include "connection/line_watcher.h"

namespace quorvel {
namespace {

// A driver that reports changes it then does not show is made to rest this
// long, so it cannot turn the watch into a busy loop.
constexpr std::chrono::milliseconds kRestAfterEmptyChange{10};
// How often Stop repeats its interruption while the watcher is not yet in
// the wait it is meant to end.
constexpr std::chrono::milliseconds kInterruptRepeat{20};

}  // namespace

void LineWatcher::Start(LineModem& modem) {
  Stop();
  {
    std::lock_guard guard(mutex_);
    stop_ = false;
    ended_ = false;
    modem_ = &modem;
  }
  thread_ = std::thread([this, &modem] { Run(modem); });
}

void LineWatcher::Stop() {
  if (!thread_.joinable()) return;
  std::unique_lock lock(mutex_);
  stop_ = true;
  changed_.notify_all();
  LineModem* modem = modem_;
  while (!ended_) {
    lock.unlock();
    if (modem) modem->InterruptWait();
    lock.lock();
    changed_.wait_for(lock, kInterruptRepeat, [this] { return ended_; });
  }
  lock.unlock();
  thread_.join();
}

bool LineWatcher::Watching() const {
  std::lock_guard guard(mutex_);
  return !ended_;
}

bool LineWatcher::Stopping() {
  std::lock_guard guard(mutex_);
  return stop_;
}

bool LineWatcher::Rest(std::chrono::milliseconds period) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, period, [this] { return stop_; });
}

void LineWatcher::Run(LineModem& modem) {
  bool driverWaits = true;
  unsigned before = board_.Latest().lines;
  // The driver's wait reports only changes after it began, so every wait
  // follows a fresh look: what changed since the last one is shown first.
  while (!Stopping() && board_.Look(modem)) {
    unsigned now = board_.Latest().lines;
    if (driverWaits && now == before && Rest(kRestAfterEmptyChange)) break;
    before = now;
    if (driverWaits) {
      ModemWait result = modem.WaitForChange();
      if (result == ModemWait::kUnsupported) driverWaits = false;
      if (result == ModemWait::kFailed) {
        board_.Clear();
        break;
      }
    } else if (Rest(kLookPeriod)) {
      break;
    }
  }
  std::lock_guard guard(mutex_);
  ended_ = true;
  changed_.notify_all();
}

}  // namespace quorvel
