#include "ui/publish_pacer.h"

#include <QSocketNotifier>
#include <algorithm>
#include <chrono>
#include <ctime>

namespace quorvel {
namespace {

constexpr int64_t kMsNs = 1'000'000;
constexpr int64_t kFrameNs = 16 * kMsNs;
// The longest spacing, so a flood still shows its progress a few times a second.
constexpr int64_t kLongestSpacingNs = 500 * kMsNs;
// Publishing may take this share of the UI thread's time while a flood lasts.
constexpr int64_t kShareDivisor = 400;  // 0.25 %

int64_t SteadyNs() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t ThreadCpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

PublishPacer::PublishPacer(std::function<void()> publish, QObject* parent)
    : QObject(parent), publish_(std::move(publish)) {
  // A descriptor the event loop watches, not a posted event: the worker
  // hands nothing of the toolkit's across threads.
  notifier_ = new QSocketNotifier(wake_.Descriptor(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &PublishPacer::OnWake);
  pending_.setSingleShot(true);
  pending_.setTimerType(Qt::PreciseTimer);
  connect(&pending_, &QTimer::timeout, this, &PublishPacer::PublishWhenDue);
  lastPublishCpuNs_ = ThreadCpuNs();
}

PublishPacer::~PublishPacer() {
  // Before the event descriptor closes.
  delete notifier_;
}

void PublishPacer::Request() {
  if (!requested_.exchange(true, std::memory_order_acq_rel)) wake_.Signal();
}

void PublishPacer::Quiet() {
  if (!quiet_.exchange(true, std::memory_order_acq_rel)) wake_.Signal();
}

void PublishPacer::OnWake() {
  wake_.Drain();
  if (quiet_.exchange(false, std::memory_order_acq_rel) &&
      requested_.load(std::memory_order_acquire)) {
    pending_.stop();
    Publish(SteadyNs());
    return;
  }
  if (!pending_.isActive()) PublishWhenDue();
}

void PublishPacer::PublishWhenDue() {
  if (!requested_.load(std::memory_order_acquire)) return;
  int64_t now = SteadyNs();
  int64_t spacingLeft = lastPublishNs_ + spacingNs_ - now;
  if (spacingLeft <= 0) {
    Publish(now);
    return;
  }
  // The spacing's end, or the worker's word that the line went quiet,
  // whichever comes first.
  pending_.start(static_cast<int>((spacingLeft + kMsNs - 1) / kMsNs));
}

void PublishPacer::Publish(int64_t now) {
  // Taken before the state is read: what lands after that asks again.
  requested_.store(false, std::memory_order_release);
  // What the UI thread spent since the last publish is mostly that publish:
  // its layout and its painting.
  int64_t cpu = ThreadCpuNs();
  int64_t cost = cpu - lastPublishCpuNs_;
  spacingNs_ = std::clamp(cost * kShareDivisor, kFrameNs, kLongestSpacingNs);
  lastPublishNs_ = now;
  publish_();
  lastPublishCpuNs_ = cpu;
}

}  // namespace quorvel
