#include "sim/line_open_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>

namespace quorvel {
namespace {

int TimeoutMs(std::optional<LineOpenWatch::Clock::time_point> until) {
  if (!until) return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - LineOpenWatch::Clock::now());
  return static_cast<int>(std::clamp<int64_t>(left.count(), 0, 1 << 30));
}

}  // namespace

LineOpenWatch::LineOpenWatch(int master, const std::string& slavePath)
    : master_(master), watch_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  if (watch_ && inotify_add_watch(watch_.Get(), slavePath.c_str(), IN_OPEN) < 0) watch_.Reset();
}

bool LineOpenWatch::HostPresent() const {
  pollfd line = {master_, 0, 0};
  return poll(&line, 1, 0) >= 0 && (line.revents & POLLHUP) == 0;
}

int LineOpenWatch::WaitForOpen(int signals, std::optional<Clock::time_point> until) {
  for (;;) {
    // The watch was made before the host could know the path, so an open
    // after this look is still queued on it.
    if (HostPresent()) return 0;
    int timeout = TimeoutMs(until);
    if (!watch_) {
      int look = static_cast<int>(kFallbackLookEvery.count());
      timeout = timeout < 0 ? look : std::min(timeout, look);
    }
    pollfd fds[2] = {{watch_.Get(), POLLIN, 0}, {signals, POLLIN, 0}};
    int ready = poll(fds, 2, timeout);
    if (ready > 0 && (fds[1].revents & POLLIN)) return -1;
    if (fds[0].revents & POLLIN) Drain();
    if (until && Clock::now() >= *until) return 0;
  }
}

void LineOpenWatch::Drain() {
  alignas(inotify_event) char events[4096];
  while (read(watch_.Get(), events, sizeof events) > 0) {
  }
}

}  // namespace quorvel
