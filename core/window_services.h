// What the receive worker asks of the window that shows its terminal state.
// Refresh is synchronous: it returns once the window has done what was asked.
// The rest only tell. With no window attached (TerminalState::Window() is
// null) nothing is called. Nothing here may wait for a person: messages and
// counts reach the window as news (core/link_news.h).
#pragma once

#include <cstdint>

namespace quorvel {

enum class RefreshPhase : int {
  kPublish = 0,  // fields to controls: show the new receive text and counters
  kCapture = 1,  // controls to fields: take in what the user typed first
};

// Silence after a burst, in milliseconds, that makes the worker call
// WindowServices::ReceivedQuiet: about one display frame.
inline constexpr int kQuietNoticeMs = 16;

class WindowServices {
 public:
  virtual ~WindowServices() = default;

  // Render the receive log and run the form exchange in the phase's direction.
  virtual void Refresh(RefreshPhase phase) = 0;

  // Asked by the worker before each burst: whether the controls may hold
  // something the state does not have yet, so that a capture refresh must run
  // first. A window that notes every edit as it happens answers true only
  // after one; by default every burst captures.
  virtual bool CaptureDue() { return true; }

  // Told by the worker after each burst: the log and the counters changed. By
  // default they are published at once (a publish refresh, waited for); a
  // window may instead note it and show the latest state at its own pace, so
  // the worker goes straight back to the line.
  virtual void ReceivedChanged() { Refresh(RefreshPhase::kPublish); }

  // Told by the worker once the line has been silent for kQuietNoticeMs
  // after a burst: a window that shows bursts at its own pace shows where
  // the line stands now. The worker notices the silence because it waits on
  // the line anyway, so a flood costs no wake-ups for it.
  virtual void ReceivedQuiet() {}
};

}  // namespace quorvel
