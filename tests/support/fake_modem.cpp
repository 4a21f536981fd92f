#include "support/fake_modem.h"

namespace quorvel::testing {

void FakeModem::SetProbe(std::function<int()> probe) {
  std::lock_guard guard(mutex_);
  probe_ = std::move(probe);
}

void FakeModem::SetInputs(unsigned inputs) {
  std::lock_guard guard(mutex_);
  lines_ = (lines_ & ~kInputLines) | (inputs & kInputLines);
  ++changes_;
  changed_.notify_all();
}

void FakeModem::SetAvailable(bool available) {
  std::lock_guard guard(mutex_);
  available_ = available;
  ++changes_;
  changed_.notify_all();
}

std::vector<FakeModem::Call> FakeModem::Calls() const {
  std::lock_guard guard(mutex_);
  return calls_;
}

void FakeModem::ClearCalls() {
  std::lock_guard guard(mutex_);
  calls_.clear();
}

unsigned FakeModem::Lines() const {
  std::lock_guard guard(mutex_);
  return lines_;
}

int FakeModem::Looks() const {
  std::lock_guard guard(mutex_);
  return looks_;
}

bool FakeModem::Waiting() const {
  std::lock_guard guard(mutex_);
  return waiting_ > 0;
}

bool FakeModem::GetLines(int, unsigned* lines) {
  std::lock_guard guard(mutex_);
  ++looks_;
  if (!available_) return false;
  *lines = lines_;
  return true;
}

bool FakeModem::Record(Kind kind, unsigned lines) {
  std::function<int()> probe;
  {
    std::lock_guard guard(mutex_);
    probe = probe_;
  }
  int seen = probe ? probe() : 0;
  std::lock_guard guard(mutex_);
  if (!available_) return false;
  calls_.push_back({kind, lines, std::chrono::steady_clock::now(), seen});
  if (kind == Kind::kRaise) lines_ |= lines & kOutputLines;
  if (kind == Kind::kDrop) lines_ &= ~(lines & kOutputLines);
  return true;
}

bool FakeModem::Raise(int, unsigned lines) {
  return Record(Kind::kRaise, lines);
}

bool FakeModem::Drop(int, unsigned lines) {
  return Record(Kind::kDrop, lines);
}

bool FakeModem::SendBreak(int) {
  return Record(Kind::kBreak, 0);
}

bool FakeModem::SetBreak(int, bool on) {
  return Record(on ? Kind::kBreakOn : Kind::kBreakOff, 0);
}

ModemWait FakeModem::WaitForChange(int) {
  if (!driverWaits_) return ModemWait::kUnsupported;
  std::unique_lock lock(mutex_);
  if (!available_) return ModemWait::kFailed;
  unsigned long seen = changes_;
  ++waiting_;
  changed_.wait(lock, [&] { return changes_ != seen || interrupted_; });
  --waiting_;
  if (interrupted_) {
    interrupted_ = false;
    return ModemWait::kInterrupted;
  }
  return available_ ? ModemWait::kChanged : ModemWait::kFailed;
}

void FakeModem::InterruptWait(pthread_t) {
  std::lock_guard guard(mutex_);
  if (waiting_ == 0) return;
  interrupted_ = true;
  changed_.notify_all();
}

}  // namespace quorvel::testing
