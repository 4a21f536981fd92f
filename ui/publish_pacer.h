// Shows the receive worker's bursts at a pace the window can afford.
//
// The worker only notes that the log and the counters changed (Request: any
// thread, never waits), and that the line went quiet after them (Quiet). The
// UI thread publishes once per batch of requests: at once when the last
// publish is far enough back, otherwise when the line goes quiet or when the
// spacing has passed, with everything that arrived meanwhile. The worker
// notices the quiet, as it waits on the line anyway: the UI thread sleeps
// until one of the two comes, so a flood wakes it about twice per publish. The spacing is at least
// one display frame (16 ms) and grows with what the last publish cost the UI thread (layout and
// painting included), so that a steady flood costs a small, fixed share of a core however expensive
// the receive box is to draw; a line that goes quiet is shown at once.
//
// Nothing is lost between the two threads: a request is taken (cleared)
// before the publish reads the state, so a burst appended after that read
// raises a new request.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>

#include "core/event_fd.h"

class QSocketNotifier;

namespace quorvel {

class PublishPacer : public QObject {
  Q_OBJECT

 public:
  // `publish` runs on the UI thread, the thread that builds the pacer.
  PublishPacer(std::function<void()> publish, QObject* parent);
  ~PublishPacer() override;

  // Any thread: the state changed; publish it soon. Wakes the UI thread only
  // for the first request after a publish.
  void Request();
  // Any thread: the line went quiet; a waiting request is published now.
  void Quiet();

  // UI thread: a request waits to be published (tests wait for this).
  bool Busy() const { return requested_.load() || pending_.isActive(); }

 private:
  void OnWake();
  // Publishes a waiting request when its time has come, else waits for it.
  void PublishWhenDue();
  void Publish(int64_t now);

  std::function<void()> publish_;
  std::atomic<bool> requested_{false};
  std::atomic<bool> quiet_{false};
  int64_t lastPublishNs_ = 0;     // steady clock; UI thread only, as the rest below
  int64_t lastPublishCpuNs_ = 0;  // the UI thread's own CPU time then
  int64_t spacingNs_ = 0;
  EventFd wake_;
  QSocketNotifier* notifier_;
  QTimer pending_;
};

}  // namespace quorvel
