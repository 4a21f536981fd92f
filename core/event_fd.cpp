#include "core/event_fd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace quorvel {

EventFd::EventFd() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

EventFd::~EventFd() {
  if (fd_ >= 0) close(fd_);
}

void EventFd::Signal() {
  uint64_t one = 1;
  if (fd_ >= 0) {
    [[maybe_unused]] ssize_t ignored = write(fd_, &one, sizeof one);
  }
}

bool EventFd::Drain() {
  // An eventfd holds one counter: a single read empties it.
  uint64_t count;
  return fd_ >= 0 && read(fd_, &count, sizeof count) == sizeof count;
}

}  // namespace quorvel
