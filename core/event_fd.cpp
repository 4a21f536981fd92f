#include "core/event_fd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace quorvel {

EventFd::EventFd() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void EventFd::Signal() {
  uint64_t one = 1;
  if (fd_) {
    [[maybe_unused]] ssize_t ignored = write(fd_.Get(), &one, sizeof one);
  }
}

bool EventFd::Drain() {
  // An eventfd holds one counter: a single read empties it.
  uint64_t count;
  return fd_ && read(fd_.Get(), &count, sizeof count) == sizeof count;
}

}  // namespace quorvel
