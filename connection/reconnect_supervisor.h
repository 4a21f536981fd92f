// Waits for a device that went away to come back, with no thread of its own
// and no busy looking. One descriptor turns readable when the port hung up,
// when an entry changes in a directory the device's path runs through, or
// when a retry is due; the thread that drives the link (the UI thread) waits
// on it and then lets the link control look (LinkControl::Service).
//
// While inotify watches the path's directory (and, for a symbolic link, the
// directory of its target) nothing else wakes up. Where a watch cannot be
// placed, a look every second stands in. A node that is there but not ours
// yet (udev still setting its owner, another program closing it) is tried
// again every 100 ms for a few seconds, then every second.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "core/unique_fd.h"
#include "link/directory_watch.h"
#include "link/port_target.h"

namespace quorvel {

// A network port (rfc2217://, tcp://) has no directory to watch: it is tried
// again after kFirstBackoff, and after every failed attempt twice as late, up
// to kLongestBackoff.
class ReconnectSupervisor {
 public:
  static constexpr std::chrono::milliseconds kFirstBackoff{500};
  static constexpr std::chrono::milliseconds kLongestBackoff{10000};
  static constexpr std::chrono::milliseconds kSlowLook{1000};
  static constexpr std::chrono::milliseconds kQuickRetry{100};
  static constexpr std::chrono::milliseconds kQuickRetriesFor{3000};

  // `hangupDescriptor` turns readable when the port hangs up.
  // `connectDescriptor` turns readable when a connection attempt is over.
  explicit ReconnectSupervisor(int hangupDescriptor, int connectDescriptor = -1);
  ReconnectSupervisor(const ReconnectSupervisor&) = delete;
  ReconnectSupervisor& operator=(const ReconnectSupervisor&) = delete;

  int Descriptor() const { return epoll_.Get(); }

  // Starts waiting for `target`; a device's path led to `node` when it was
  // opened (the same path unless it is a symbolic link).
  void StartWaiting(const PortTarget& target, const std::string& node);
  void StopWaiting();
  // Any thread (a send asks from whichever thread it comes).
  bool Waiting() const { return waiting_.load(); }
  // The target's text (a device path or a network address).
  const std::string& WaitingFor() const { return path_; }

  // Takes what made the descriptor readable, except the hang-up itself
  // (the port takes that). Returns whether a look at the device is due.
  bool TakeLookDue();

  // A look failed with `error` (an errno value): plans the next one.
  void LookFailed(int error);

  // Makes the descriptor readable once after `limit` (the end of a
  // connection attempt's time), in place of any look planned.
  void WakeAfter(std::chrono::milliseconds limit);
  // The delay before the next attempt at a network port.
  std::chrono::milliseconds Backoff() const { return backoff_; }

 private:
  void Arm(std::chrono::milliseconds first, std::chrono::milliseconds every);

  UniqueFd epoll_;
  UniqueFd timer_;
  DirectoryWatch watch_;
  // Read by the session's Send and Order, which a script calls from its own
  // thread; written by the thread that drives the link.
  std::atomic<bool> waiting_{false};
  bool served_ = false;  // inotify watches every directory the path runs through
  bool retrying_ = false;
  bool network_ = false;  // waiting for a network port
  std::chrono::milliseconds backoff_{kFirstBackoff};
  std::chrono::steady_clock::time_point retryingSince_;
  std::string path_;
};

}  // namespace quorvel
