#include "support/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/clock.h"

namespace quorvel::testing {
namespace {

// How long one wait lasts before the deadline is looked at again.
constexpr int kSliceMs = 100;

}  // namespace

PtyLine::PtyLine(Mode mode) {
  termios raw{};
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  int master = -1;
  int slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, mode == Mode::kRaw ? &raw : nullptr, nullptr) != 0) return;
  master_.Reset(master);
  slave_.Reset(slave);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  path_ = name;
}

bool PtyLine::WriteAll(const uint8_t* bytes, size_t count, int64_t deadlineMs) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::write(master_.Get(), bytes + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    int left = RemainingMs(deadlineMs);
    if (left == 0) return false;
    pollfd out = {master_.Get(), POLLOUT, 0};
    ::poll(&out, 1, std::min(left, kSliceMs));
  }
  return true;
}

size_t PtyLine::ReadSome(uint8_t* buffer, size_t capacity, int timeoutMs) {
  // What is there already is taken without a wait: one call, not two.
  ssize_t n = ::read(master_.Get(), buffer, capacity);
  if (n > 0) return static_cast<size_t>(n);
  pollfd in = {master_.Get(), POLLIN, 0};
  if (::poll(&in, 1, timeoutMs) <= 0) return 0;
  n = ::read(master_.Get(), buffer, capacity);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

bool PtyLine::ReadExactly(size_t count, std::vector<uint8_t>& out, int64_t deadlineMs) {
  size_t target = out.size() + count;
  while (out.size() < target) {
    int left = RemainingMs(deadlineMs);
    if (left == 0) return false;
    uint8_t buffer[4096];
    size_t n =
        ReadSome(buffer, std::min(sizeof buffer, target - out.size()), std::min(left, kSliceMs));
    out.insert(out.end(), buffer, buffer + n);
  }
  return true;
}

std::vector<uint8_t> PtyLine::Drain(int quietMs) {
  std::vector<uint8_t> got;
  uint8_t buffer[4096];
  while (size_t n = ReadSome(buffer, sizeof buffer, quietMs))
    got.insert(got.end(), buffer, buffer + n);
  return got;
}

}  // namespace quorvel::testing
