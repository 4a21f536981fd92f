#include "connection/reconnect_supervisor.h"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>

#include "link/network_address.h"

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
  Add(epoll_, hangupDescriptor);
  Add(epoll_, connectDescriptor);
  Add(epoll_, watch_.Descriptor());
  Add(epoll_, timer_);
}

ReconnectSupervisor::~ReconnectSupervisor() {
  if (timer_ >= 0) ::close(timer_);
  if (epoll_ >= 0) ::close(epoll_);
}

void ReconnectSupervisor::StartWaiting(const std::string& path, const std::string& target) {
  waiting_ = true;
  retrying_ = false;
  path_ = path;
  network_ = IsNetworkPath(path);
  if (network_) {
    Arm(kFirstBackoff, {});
    backoff_ = std::min(kFirstBackoff * 2, kLongestBackoff);
    return;
  }
  std::filesystem::path linkDirectory = std::filesystem::path(path).parent_path();
  std::filesystem::path targetDirectory = std::filesystem::path(target).parent_path();
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
  if (timer_ >= 0 && ::read(timer_, &expirations, sizeof expirations) == sizeof expirations) {
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
  if (timer_ < 0) return;
  itimerspec period{ToTimespec(every), ToTimespec(first)};
  ::timerfd_settime(timer_, 0, &period, nullptr);
}

}  // namespace quorvel
