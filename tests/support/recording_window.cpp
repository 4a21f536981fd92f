#include "support/recording_window.h"

#include <poll.h>

#include <thread>

namespace quorvel::testing {

RecordingWindow::RecordingWindow(TerminalState& state, LinkHub& hub) : state_(state), hub_(hub) {
  state_.AttachWindow(this);
}

RecordingWindow::~RecordingWindow() {
  state_.AttachWindow(nullptr);
}

void RecordingWindow::Refresh(RefreshPhase phase) {
  std::function<void(RefreshPhase)> hook;
  {
    std::lock_guard guard(mutex_);
    hook = hook_;
  }
  if (hook) hook(phase);
  WindowEvent event;
  event.kind =
      phase == RefreshPhase::kCapture ? WindowEvent::kRefreshCapture : WindowEvent::kRefreshPublish;
  {
    std::lock_guard guard(state_.lock);
    event.rxLengthSeen = state_.rxLength;
  }
  event.rxCountSeen = hub_.counters.Read().rxCount;
  Record(std::move(event));
}

void RecordingWindow::ReceivedQuiet() {
  std::lock_guard guard(mutex_);
  ++quietNotices_;
  publishesBeforeQuiet_ = 0;
  for (const WindowEvent& event : events_) {
    publishesBeforeQuiet_ += event.kind == WindowEvent::kRefreshPublish;
  }
}

size_t RecordingWindow::QuietNotices() const {
  std::lock_guard guard(mutex_);
  return quietNotices_;
}

size_t RecordingWindow::PublishesBeforeLastQuiet() const {
  std::lock_guard guard(mutex_);
  return publishesBeforeQuiet_;
}

void RecordingWindow::Record(WindowEvent event) {
  std::lock_guard guard(mutex_);
  events_.push_back(std::move(event));
}

std::vector<WindowEvent> RecordingWindow::Events() const {
  std::lock_guard guard(mutex_);
  return events_;
}

std::vector<std::string> RecordingWindow::Messages() {
  std::lock_guard guard(mutex_);
  for (std::string& text : hub_.news.Take()) {
    hub_.news.Dismissed(text);
    messages_.push_back(std::move(text));
  }
  return messages_;
}

size_t RecordingWindow::Count(WindowEvent::Kind kind) const {
  size_t n = 0;
  for (const WindowEvent& event : Events()) n += event.kind == kind;
  return n;
}

void RecordingWindow::Clear() {
  Messages();
  std::lock_guard guard(mutex_);
  events_.clear();
  messages_.clear();
}

void RecordingWindow::OnRefresh(std::function<void(RefreshPhase)> hook) {
  std::lock_guard guard(mutex_);
  hook_ = std::move(hook);
}

bool RecordingWindow::WaitFor(const std::function<bool()>& condition,
                              std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool UiThreadWindow::WaitForPendingCall(std::chrono::milliseconds timeout) const {
  // The queue's wake descriptor is readable exactly while calls wait for the
  // UI thread (it is drained when they are served).
  pollfd wake = {calls_.WakeDescriptor(), POLLIN, 0};
  return poll(&wake, 1, static_cast<int>(timeout.count())) == 1;
}

}  // namespace quorvel::testing
