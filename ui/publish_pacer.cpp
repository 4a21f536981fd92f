#include "ui/publish_pacer.h"

#include <QSocketNotifier>

namespace quorvel {
namespace {

constexpr int kFrameMs = 16;

}  // namespace

PublishPacer::PublishPacer(std::function<void()> publish, QObject* parent)
    : QObject(parent), publish_(std::move(publish)) {
  // A descriptor the event loop watches, not a posted event: the worker
  // hands nothing of the toolkit's across threads.
  notifier_ = new QSocketNotifier(wake_.Descriptor(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &PublishPacer::OnWake);
  frame_.setSingleShot(true);
  frame_.setInterval(kFrameMs);
  frame_.setTimerType(Qt::PreciseTimer);
  connect(&frame_, &QTimer::timeout, this, &PublishPacer::PublishIfRequested);
}

PublishPacer::~PublishPacer() {
  // Before the event descriptor closes.
  delete notifier_;
}

void PublishPacer::Request() {
  if (!requested_.exchange(true, std::memory_order_acq_rel)) wake_.Signal();
}

void PublishPacer::OnWake() {
  wake_.Drain();
  // Within a frame the request waits for its end.
  if (!frame_.isActive()) PublishIfRequested();
}

void PublishPacer::PublishIfRequested() {
  // Taken before the state is read: what lands after that asks again.
  if (!requested_.exchange(false, std::memory_order_acq_rel)) return;
  frame_.start();
  publish_();
}

}  // namespace quorvel
