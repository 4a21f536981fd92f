// Shows the receive worker's bursts at the display's pace.
//
// The worker only notes that the log and the counters changed (Request: any
// thread, never waits). The UI thread publishes at once when it has not
// published in the current frame (16 ms), and otherwise once at the frame's
// end, with everything that arrived meanwhile. A line delivering thousands of
// bursts a second thus costs at most sixty publishes, and the worker goes
// back to reading the line instead of waiting for the window after each one.
//
// Nothing is lost between the two threads: a request is taken (cleared)
// before the publish reads the state, so a burst appended after that read
// raises a new request.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
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

  // UI thread: a request waits, or a frame still runs (tests wait for both).
  bool Busy() const { return requested_.load() || frame_.isActive(); }

 private:
  void OnWake();
  void PublishIfRequested();

  std::function<void()> publish_;
  std::atomic<bool> requested_{false};
  EventFd wake_;
  QSocketNotifier* notifier_;
  QTimer frame_;
};

}  // namespace quorvel
