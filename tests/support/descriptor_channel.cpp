#include "support/descriptor_channel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "core/clock.h"

namespace quorvel::testing {

DescriptorChannel::DescriptorChannel(const std::string& path)
    : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
  termios mode{};
  if (!fd_ || ::tcgetattr(fd_.Get(), &mode) != 0) {
    ADD_FAILURE() << "cannot open " << path;
    return;
  }
  ::cfmakeraw(&mode);
  ::tcsetattr(fd_.Get(), TCSANOW, &mode);
}

int DescriptorChannel::Read(uint8_t* buffer, int capacity, int timeoutMs) {
  int64_t deadline = SteadyNowMs() + timeoutMs;
  for (;;) {
    if (cancelled_.load()) return kCancelled;
    ssize_t n = ::read(fd_.Get(), buffer, static_cast<size_t>(capacity));
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && errno != EAGAIN && errno != EINTR) return kLinkLost;
    int left = RemainingMs(deadline);
    if (left == 0) return kTimedOut;
    pollfd fds[2] = {{fd_.Get(), POLLIN, 0}, {cancel_.Descriptor(), POLLIN, 0}};
    ::poll(fds, 2, left);
  }
}

bool DescriptorChannel::Write(const uint8_t* bytes, int count) {
  int done = 0;
  int64_t deadline = SteadyNowMs() + 10000;
  while (done < count) {
    ssize_t n = ::write(fd_.Get(), bytes + done, static_cast<size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      written_ += static_cast<uint64_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else if (RemainingMs(deadline) == 0) {
      return false;
    } else {
      pollfd out = {fd_.Get(), POLLOUT, 0};
      ::poll(&out, 1, 10);
    }
  }
  return true;
}

void DescriptorChannel::DiscardInput() {
  ::tcflush(fd_.Get(), TCIFLUSH);
}

void DescriptorChannel::Cancel() {
  cancelled_.store(true);
  cancel_.Signal();
}

}  // namespace quorvel::testing
