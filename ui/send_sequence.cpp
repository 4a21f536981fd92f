#include "ui/send_sequence.h"

#include <QSocketNotifier>
#include <QTimer>
#include <atomic>

#include "core/news_flag.h"

namespace quorvel {
namespace {

constexpr int kHeldPollMs = 100;

}  // namespace

// Entries handed to the door and entries it told of; the run goes on when
// both are equal.
struct SendSequence::Flights {
  std::atomic<uint64_t> sent{0};
  std::atomic<uint64_t> written{0};
  NewsFlag landed;

  bool AllWritten() const { return written.load() == sent.load(); }
};

SendSequence::SendSequence(Send send, Progress progress, QObject* parent)
    : QObject(parent),
      send_(std::move(send)),
      progress_(std::move(progress)),
      timer_(new QTimer(this)),
      flights_(std::make_shared<Flights>()) {
  timer_->setSingleShot(true);
  timer_->setTimerType(Qt::PreciseTimer);
  connect(timer_, &QTimer::timeout, this, &SendSequence::DelayOver);
  written_ = new QSocketNotifier(flights_->landed.Descriptor(), QSocketNotifier::Read, this);
  connect(written_, &QSocketNotifier::activated, this, [this] {
    flights_->landed.Take();
    GoOnWhenWritten();
  });
}

SendSequence::~SendSequence() = default;

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
  std::shared_ptr<Flights> flights = flights_;
  flights->sent.fetch_add(1);
  bool queued = send_(entries_[next_], [flights](const SendResult&) {
    flights->written.fetch_add(1);
    flights->landed.Raise();
  });
  if (!queued) {
    flights->sent.fetch_sub(1);
    Stop();
    return;
  }
  ++next_;
  progress_(true, next_ - 1, round_);
  delayOver_ = false;
  timer_->start(entries_[next_ - 1].delayMs);
}

void SendSequence::DelayOver() {
  if (!running_) return;
  if (held_ && held_()) {
    timer_->start(kHeldPollMs);
    return;
  }
  delayOver_ = true;
  GoOnWhenWritten();
}

void SendSequence::GoOnWhenWritten() {
  if (running_ && delayOver_ && flights_->AllWritten()) SendNext();
}

}  // namespace quorvel
