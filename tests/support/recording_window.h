// A stand-in window that records what the core asks of it, in order.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/link_hub.h"
#include "core/terminal_state.h"
#include "core/window_services.h"

namespace quorvel::testing {

struct WindowEvent {
  enum Kind { kRefreshCapture, kRefreshPublish };
  Kind kind = kRefreshPublish;
  int rxLengthSeen = 0;      // the log's length at the call
  uint32_t rxCountSeen = 0;  // the RX count at the call
};

class RecordingWindow : public WindowServices {
 public:
  // Attaches itself to `state`, and detaches when destroyed; reads the
  // counters and the news of `hub`, the state's line.
  RecordingWindow(TerminalState& state, LinkHub& hub);
  ~RecordingWindow() override;

  void Refresh(RefreshPhase phase) override;
  // Counted apart from the events: it comes a moment after a burst's publish.
  void ReceivedQuiet() override;

  std::vector<WindowEvent> Events() const;
  // How often the worker said the line went quiet, and the publishes before
  // the last such word.
  size_t QuietNotices() const;
  size_t PublishesBeforeLastQuiet() const;
  // The messages the line posted so far, as a user who dismisses each at
  // once would have seen them.
  std::vector<std::string> Messages();
  size_t Count(WindowEvent::Kind kind) const;
  void Clear();

  // Runs before each recorded refresh, on the calling thread (no lock held).
  void OnRefresh(std::function<void(RefreshPhase)> hook);

  // Waits until `condition` (called with no lock held) is true; false on timeout.
  static bool WaitFor(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5));

 private:
  void Record(WindowEvent event);

  TerminalState& state_;
  LinkHub& hub_;
  mutable std::mutex mutex_;
  std::vector<WindowEvent> events_;
  std::vector<std::string> messages_;
  size_t quietNotices_ = 0;
  size_t publishesBeforeQuiet_ = 0;
  std::function<void(RefreshPhase)> hook_;
};

// A recording window that, like the real one, does its work on the UI thread:
// every call is handed over through the hub's uiCalls and returns only once
// the thread that owns the queue (the test's thread) has served it, by
// uiCalls.Serve() or while a stop-and-wait serves it.
class UiThreadWindow : public RecordingWindow {
 public:
  UiThreadWindow(TerminalState& state, LinkHub& hub)
      : RecordingWindow(state, hub), calls_(hub.uiCalls) {}

  void Refresh(RefreshPhase phase) override {
    calls_.Run([&] { RecordingWindow::Refresh(phase); });
  }

  // True once a call is waiting for the UI thread, within `timeout`.
  bool WaitForPendingCall(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

 private:
  UiCallQueue& calls_;
};

}  // namespace quorvel::testing
