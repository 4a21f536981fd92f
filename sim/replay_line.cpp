#include "sim/replay_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/unique_fd.h"

namespace quorvel {
namespace {

using Clock = ReplayPlayer::Clock;
constexpr auto kHostSettle = std::chrono::milliseconds(100);
constexpr auto kLinger = std::chrono::seconds(1);
constexpr auto kLingerLookEvery = std::chrono::milliseconds(5);
constexpr auto kSeenEmpty = std::chrono::milliseconds(30);

timespec Remaining(std::optional<Clock::time_point> until) {
  if (!until) return {-1, 0};
  auto left = *until - Clock::now();
  if (left <= Clock::duration::zero()) return {0, 0};
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// Waits on the line and the signals until `until` (forever when unset).
// Returns the line's events, or -1 when a signal came.
int Wait(const ReplayLine& line, short events, std::optional<Clock::time_point> until) {
  pollfd fds[2] = {{line.master, events, 0}, {line.signals, POLLIN, 0}};
  timespec timeout = Remaining(until);
  int ready = ppoll(fds, 2, timeout.tv_sec < 0 ? nullptr : &timeout, nullptr);
  if (ready < 0) return 0;  // EINTR: look again
  if (fds[1].revents & POLLIN) return -1;
  return fds[0].revents;
}

bool Fail(const char* what) {
  std::fprintf(stderr, "quorvel-devsim: %s failed: %s\n", what, std::strerror(errno));
  return false;
}

enum class Read { kBytes, kNothing, kHungUp, kFailed };

// Reads what the host sent into the player.
Read ReadHost(const ReplayLine& line, ReplayPlayer& player, LineRecorder* recorder) {
  uint8_t buffer[4096];
  ssize_t n = read(line.master, buffer, sizeof buffer);
  if (n < 0) {
    if (errno == EIO) return Read::kHungUp;  // the host closed the line: what it sent is read
    return errno == EAGAIN || errno == EINTR ? Read::kNothing : Read::kFailed;
  }
  if (n == 0) return Read::kNothing;
  auto count = static_cast<size_t>(n);
  if (recorder) recorder->DeviceReceived(buffer, count);
  player.Received(buffer, count, Clock::now());
  return Read::kBytes;
}

// Closing the master drops what the host has not read yet, so the end waits
// until the line has stayed empty for a while (the kernel hands what was
// written on to the host's side a moment later), the host let go, or kLinger
// passed. Only a descriptor of the slave tells how much is unread; a host
// that holds the line exclusively allows none, and then the end waits for
// its close or kLinger.
void Linger(const ReplayLine& line) {
  auto until = Clock::now() + kLinger;
  if (!line.watch->HostPresent()) return;  // no one to read it
  UniqueFd slave(open(line.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!slave) {
    while (Clock::now() < until && line.watch->HostPresent()) {
      if (Wait(line, 0, until) < 0) return;
    }
    return;
  }
  auto emptySince = Clock::now();
  for (;;) {
    int unread = 0;
    auto now = Clock::now();
    if (ioctl(slave.Get(), FIONREAD, &unread) != 0 || now >= until) return;
    if (unread > 0) emptySince = now;
    if (now - emptySince >= kSeenEmpty) return;
    if (Wait(line, 0, now + kLingerLookEvery) < 0) return;
  }
}

}  // namespace

bool WaitForHost(const ReplayLine& line) {
  for (;;) {
    if (line.watch->WaitForOpen(line.signals, std::nullopt) < 0) return false;
    auto settled = Clock::now() + kHostSettle;
    for (;;) {
      int events = Wait(line, POLLIN, settled);
      if (events < 0) return false;
      if (events & POLLIN) return true;  // it talks first: its set-up is done
      if (events & POLLHUP) break;       // it let go again: wait for the next open
      if (Clock::now() >= settled) return true;
    }
  }
}

bool RunReplay(const ReplayLine& line, ReplayPlayer& player, LineRecorder* recorder) {
  std::string pending;
  player.Start(Clock::now());
  for (;;) {
    // Output the line has not taken yet holds the script back: a host that
    // does not read must not make the replay pile up bytes without end.
    if (pending.empty()) {
      player.Advance(Clock::now(), pending);
      if (recorder && !pending.empty()) {
        recorder->DeviceSent(reinterpret_cast<const uint8_t*>(pending.data()), pending.size());
      }
    }
    while (!pending.empty()) {
      ssize_t n = write(line.master, pending.data(), pending.size());
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) break;
        return Fail("writing the line");
      }
      pending.erase(0, static_cast<size_t>(n));
    }
    if (player.Finished() && pending.empty()) break;
    std::optional<Clock::time_point> wake;
    if (pending.empty()) wake = player.NextWake();
    int ready = Wait(line, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), wake);
    if (ready < 0) return true;
    Read read = (ready & POLLIN) ? ReadHost(line, player, recorder) : Read::kNothing;
    if (read == Read::kFailed) return Fail("reading the line");
    if (read == Read::kHungUp || (read == Read::kNothing && (ready & POLLHUP))) {
      // Until the host opens the line again, only the script's clock and
      // the signals wake the replay.
      if (line.watch->WaitForOpen(line.signals, wake) < 0) return true;
    }
  }
  Linger(line);
  return true;
}

}  // namespace quorvel
