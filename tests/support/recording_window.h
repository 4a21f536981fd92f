// A stand-in window that records what the core asks of it, in order.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/terminal_state.h"
#include "core/window_services.h"

namespace quorvel::testing {

struct WindowEvent {
  enum Kind { kRefreshCapture, kRefreshPublish, kTxCount, kMessage };
  Kind kind = kMessage;
  uint32_t txCount = 0;      // kTxCount
  std::string message;       // kMessage
  int rxLengthSeen = 0;      // refreshes: the log's length at the call
  uint32_t rxCountSeen = 0;  // refreshes: rxCount at the call
};

class RecordingWindow : public WindowServices {
 public:
  // Attaches itself to `state`, and detaches when destroyed.
  explicit RecordingWindow(TerminalState& state);
  ~RecordingWindow() override;

  void Refresh(RefreshPhase phase) override;
  void ShowTxCount(uint32_t txCount) override;
  void ShowMessage(StringId text) override;
  // Counted apart from the events: it comes a moment after a burst's publish.
  void ReceivedQuiet() override;

  std::vector<WindowEvent> Events() const;
  // How often the worker said the line went quiet, and the publishes before
  // the last such word.
  size_t QuietNotices() const;
  size_t PublishesBeforeLastQuiet() const;
  std::vector<std::string> Messages() const;
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
  mutable std::mutex mutex_;
  std::vector<WindowEvent> events_;
  size_t quietNotices_ = 0;
  size_t publishesBeforeQuiet_ = 0;
  std::function<void(RefreshPhase)> hook_;
};

// A recording window that, like the real one, does its work on the UI thread:
// every call is handed over through state.uiCalls and returns only once the
// thread that owns the queue (the test's thread) has served it, by
// state.uiCalls.Serve() or while a stop-and-wait serves it.
class UiThreadWindow : public RecordingWindow {
 public:
  explicit UiThreadWindow(TerminalState& state) : RecordingWindow(state), calls_(state.uiCalls) {}

  void Refresh(RefreshPhase phase) override {
    calls_.Run([&] { RecordingWindow::Refresh(phase); });
  }
  void ShowTxCount(uint32_t txCount) override {
    calls_.Run([&] { RecordingWindow::ShowTxCount(txCount); });
  }
  void ShowMessage(StringId text) override {
    calls_.Run([&] { RecordingWindow::ShowMessage(text); });
  }

  // True once a call is waiting for the UI thread, within `timeout`.
  bool WaitForPendingCall(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

 private:
  UiCallQueue& calls_;
};

}  // namespace quorvel::testing
