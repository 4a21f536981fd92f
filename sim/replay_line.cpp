#include "sim/replay_line.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quorvel {
namespace {

using Clock = ReplayPlayer::Clock;
constexpr auto kHostSettle = std::chrono::milliseconds(100);
constexpr auto kHostLookEvery = std::chrono::milliseconds(5);
constexpr auto kLinger = std::chrono::seconds(1);
constexpr auto kSeenEmpty = std::chrono::milliseconds(30);

bool SameLine(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && cfgetospeed(&a) == cfgetospeed(&b) &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

timespec Remaining(std::optional<Clock::time_point> until) {
  if (!until) return {-1, 0};
  auto left = *until - Clock::now();
  if (left <= Clock::duration::zero()) return {0, 0};
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// Waits on the line and the signals until `until` (forever when unset).
// Returns the line's events, or -1 when a signal came.
int Wait(int master, short events, int signals, std::optional<Clock::time_point> until) {
  pollfd fds[2] = {{master, events, 0}, {signals, POLLIN, 0}};
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

}  // namespace

bool WaitForHost(int master, int slave, int signals) {
  termios before{};
  tcgetattr(slave, &before);
  for (;;) {
    termios now{};
    int exclusive = 0;
    tcgetattr(slave, &now);
    ioctl(slave, TIOCGEXCL, &exclusive);
    if (exclusive || !SameLine(before, now)) break;
    int events = Wait(master, POLLIN, signals, Clock::now() + kHostLookEvery);
    if (events < 0) return false;
    if (events & POLLIN) return true;  // it talks first: its set-up is done
  }
  auto settled = Clock::now() + kHostSettle;
  while (Clock::now() < settled) {
    if (Wait(master, 0, signals, settled) < 0) return false;
  }
  return true;
}

bool RunReplay(int master, int slave, int signals, ReplayPlayer& player, LineRecorder* recorder) {
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
      ssize_t n = write(master, pending.data(), pending.size());
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) break;
        return Fail("writing the line");
      }
      pending.erase(0, static_cast<size_t>(n));
    }
    if (player.Finished() && pending.empty()) break;
    std::optional<Clock::time_point> wake;
    if (pending.empty()) wake = player.NextWake();
    short events = static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT));
    int ready = Wait(master, events, signals, wake);
    if (ready < 0) return true;
    if (ready & POLLIN) {
      uint8_t buffer[4096];
      ssize_t n = read(master, buffer, sizeof buffer);
      if (n < 0 && errno != EAGAIN && errno != EINTR) return Fail("reading the line");
      if (n > 0) {
        auto count = static_cast<size_t>(n);
        if (recorder) recorder->DeviceReceived(buffer, count);
        player.Received(buffer, count, Clock::now());
      }
    }
  }
  // Closing the line drops what the host has not read yet. The kernel hands
  // what was written on to the host's side a moment later, so the line counts
  // as read only once it has stayed empty for a while.
  auto until = Clock::now() + kLinger;
  auto emptySince = Clock::now();
  for (;;) {
    int unread = 0;
    auto now = Clock::now();
    if (ioctl(slave, FIONREAD, &unread) != 0 || now >= until) break;
    if (unread > 0) emptySince = now;
    if (now - emptySince >= kSeenEmpty) break;
    if (Wait(master, 0, signals, now + kHostLookEvery) < 0) break;
  }
  return true;
}

}  // namespace quorvel
