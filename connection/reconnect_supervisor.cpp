#include "connection/reconnect_supervisor.h"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>

namespace quorvel {
namespace {

void Add(int epoll, int fd) {
  if (epoll < 0 || fd < 0) return;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
}

timespec ToTimespec(std::chrono::milliseconds ms) {
  return {static_cast<time_t>(ms.count() / 1000), static_cast<long>(ms.count() % 1000) * 1000000};
}

}  // namespace

ReconnectSupervisor::ReconnectSupervisor(int hangupDescriptor, int connectDescriptor)
    : epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      timer_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
  Add(epoll_.Get(), hangupDescriptor);
  Add(epoll_.Get(), connectDescriptor);
  Add(epoll_.Get(), watch_.Descriptor());
  Add(epoll_.Get(), timer_.Get());
}

void ReconnectSupervisor::StartWaiting(const PortTarget& target, const std::string& node) {
  waiting_ = true;
  retrying_ = false;
  path_ = target.Text();
  network_ = target.IsNetwork();
  if (network_) {
    Arm(kFirstBackoff, {});
    backoff_ = std::min(kFirstBackoff * 2, kLongestBackoff);
    return;
  }
  std::filesystem::path linkDirectory = std::filesystem::path(path_).parent_path();
  std::filesystem::path targetDirectory = std::filesystem::path(node).parent_path();
  served_ = watch_.Watch(linkDirectory.empty() ? "." : linkDirectory);
  if (!targetDirectory.empty() && targetDirectory != linkDirectory) {
    served_ &= watch_.Watch(targetDirectory);
  }
  if (served_) {
    Arm({}, {});
  } else {
    Arm(kSlowLook, kSlowLook);
  }
}

void ReconnectSupervisor::StopWaiting() {
  waiting_ = false;
  retrying_ = false;
  network_ = false;
  path_.clear();
  watch_.Clear();
  Arm({}, {});
  TakeLookDue();
}

bool ReconnectSupervisor::TakeLookDue() {
  bool due = false;
  if (DirectoryWatch::Changes changes = watch_.Drain(); changes.any) {
    due = true;
    served_ = changes.allWatched;
  }
  uint64_t expirations;
  if (timer_ && ::read(timer_.Get(), &expirations, sizeof expirations) == sizeof expirations) {
    due = true;
  }
  return due && waiting_;
}

void ReconnectSupervisor::LookFailed(int error) {
  if (!waiting_) return;
  if (network_) {
    Arm(backoff_, {});
    backoff_ = std::min(backoff_ * 2, kLongestBackoff);
    return;
  }
  auto now = std::chrono::steady_clock::now();
  if (error == EACCES || error == EBUSY) {
    if (!retrying_) {
      retrying_ = true;
      retryingSince_ = now;
    }
    if (now - retryingSince_ < kQuickRetriesFor) {
      Arm(kQuickRetry, {});
    } else {
      Arm(kSlowLook, kSlowLook);  // inotify says nothing when another program lets go
    }
    return;
  }
  retrying_ = false;
  if (served_) {
    Arm({}, {});
  } else {
    Arm(kSlowLook, kSlowLook);
  }
}

void ReconnectSupervisor::WakeAfter(std::chrono::milliseconds limit) {
  Arm(limit, {});
}

void ReconnectSupervisor::Arm(std::chrono::milliseconds first, std::chrono::milliseconds every) {
  if (!timer_) return;
  itimerspec period{ToTimespec(every), ToTimespec(first)};
  ::timerfd_settime(timer_.Get(), 0, &period, nullptr);
}

}  // namespace quorvel
