#include "ui/send_sequence.h"

#include <QTimer>

#include "engine/send_writer.h"

namespace quorvel {
namespace {

constexpr int kDrainPollMs = 1;
constexpr int kHeldPollMs = 100;

}  // namespace

SendSequence::SendSequence(SendWriter& writer, Send send, Progress progress, QObject* parent)
    : QObject(parent),
      writer_(writer),
      send_(std::move(send)),
      progress_(std::move(progress)),
      timer_(new QTimer(this)) {
  timer_->setSingleShot(true);
  timer_->setTimerType(Qt::PreciseTimer);
  connect(timer_, &QTimer::timeout, this, &SendSequence::Tick);
}

void SendSequence::Start(std::vector<SendListEntry> entries, bool repeat) {
  Stop();
  if (entries.empty()) return;
  entries_ = std::move(entries);
  repeat_ = repeat;
  running_ = true;
  next_ = 0;
  round_ = 0;
  SendNext();
}

void SendSequence::Stop() {
  timer_->stop();
  if (!running_) return;
  running_ = false;
  progress_(false, next_ == 0 ? 0 : next_ - 1, round_);
}

void SendSequence::SendNext() {
  if (next_ == entries_.size()) {
    if (!repeat_) {
      Stop();
      return;
    }
    next_ = 0;
    ++round_;
  }
  if (!send_(entries_[next_])) {
    Stop();
    return;
  }
  ++next_;
  progress_(true, next_ - 1, round_);
  timer_->start(entries_[next_ - 1].delayMs);
}

void SendSequence::Tick() {
  if (!running_) return;
  if (held_ && held_()) {
    timer_->start(kHeldPollMs);
    return;
  }
  if (writer_.Busy()) {
    timer_->start(kDrainPollMs);
    return;
  }
  SendNext();
}

}  // namespace quorvel
