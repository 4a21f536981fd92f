#include "support/line_relay.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <random>
#include <vector>

namespace quorvel::testing {
namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;
constexpr Micros kNone{-1};
constexpr size_t kMaxHeld = 1 << 20;  // beyond this the source is not read until the sink takes

// One direction: chunks read from `from`, held until due, written to `to`.
struct Direction {
  int from;
  int to;
  const RelayNoise& noise;
  std::mt19937& random;
  std::atomic<uint64_t>& bytes;
  std::atomic<uint64_t>& dropped;
  std::atomic<uint64_t>& flipped;
  struct Chunk {
    Clock::time_point due;
    std::vector<uint8_t> bytes;
    size_t written = 0;
  };
  std::deque<Chunk> held;
  size_t heldBytes = 0;
  uint64_t stallAfter = 0;  // 0: never
  const std::atomic<bool>* released = nullptr;

  bool Stalled() const { return stallAfter != 0 && !*released && bytes >= stallAfter; }
  bool WantsInput() const { return heldBytes < kMaxHeld && !Stalled(); }

  void Take(Clock::time_point due) {
    uint8_t buffer[4096];
    ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n <= 0) return;
    bytes += static_cast<uint64_t>(n);
    Chunk chunk{due, {}, 0};
    chunk.bytes.reserve(static_cast<size_t>(n));
    for (ssize_t i = 0; i < n; ++i) Damage(buffer[i], chunk.bytes);
    heldBytes += chunk.bytes.size();
    if (!chunk.bytes.empty()) held.push_back(std::move(chunk));
  }

  void Damage(uint8_t byte, std::vector<uint8_t>& out) {
    if (noise.oneIn == 0 || random() % noise.oneIn != 0 || !(noise.drop || noise.flip)) {
      out.push_back(byte);
      return;
    }
    bool drop = noise.drop && (!noise.flip || random() % 2 == 0);
    if (drop) {
      ++dropped;
      return;
    }
    ++flipped;
    out.push_back(static_cast<uint8_t>(byte ^ (1u << (random() % 8))));
  }

  // Writes what is due; how long until the next chunk falls due (-1 none,
  // 0 when the sink is full and POLLOUT should wake us).
  Micros Give(bool& wantOut) {
    wantOut = false;
    while (!held.empty()) {
      Chunk& chunk = held.front();
      auto now = Clock::now();
      if (chunk.due > now) return std::chrono::ceil<Micros>(chunk.due - now);
      ssize_t n =
          ::write(to, chunk.bytes.data() + chunk.written, chunk.bytes.size() - chunk.written);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        wantOut = true;
        return kNone;
      }
      if (n <= 0) {  // the peer went: what it would have read is lost
        heldBytes -= chunk.bytes.size() - chunk.written;
        held.pop_front();
        continue;
      }
      chunk.written += static_cast<size_t>(n);
      heldBytes -= static_cast<size_t>(n);
      if (chunk.written == chunk.bytes.size()) held.pop_front();
    }
    return kNone;
  }
};

Micros Earliest(Micros x, Micros y) {
  if (x < Micros::zero()) return y;
  if (y < Micros::zero()) return x;
  return std::min(x, y);
}

// Waits counted in microseconds: a delay of 300 us is not held for a whole
// millisecond, as poll's timeout would.
int PollFor(pollfd* fds, nfds_t count, Micros wait) {
  if (wait < Micros::zero()) return ::ppoll(fds, count, nullptr, nullptr);
  const timespec timeout{static_cast<time_t>(wait.count() / 1'000'000),
                         static_cast<long>(wait.count() % 1'000'000 * 1000)};
  return ::ppoll(fds, count, &timeout, nullptr);
}

}  // namespace

LineRelay::LineRelay(int a, int b, RelayOptions options) : options_(options) {
  thread_ = std::thread([this, a, b] { Run(a, b); });
}

LineRelay::~LineRelay() {
  stop_.Signal();
  thread_.join();
}

void LineRelay::Run(int a, int b) {
  std::mt19937 random(options_.seed);
  Direction toPeer{
      a, b, options_.towardPeer, random, toPeer_.bytes, toPeer_.dropped, toPeer_.flipped, {}, 0};
  Direction toUs{b, a, options_.towardUs, random, toUs_.bytes, toUs_.dropped, toUs_.flipped, {}, 0};
  toPeer.stallAfter = options_.holdTowardPeerAfter;
  toUs.stallAfter = options_.holdTowardUsAfter;
  toPeer.released = toUs.released = &released_;
  for (;;) {
    bool peerFull = false;
    bool usFull = false;
    Micros wait = Earliest(toPeer.Give(peerFull), toUs.Give(usFull));
    // POLLOUT on a master stands for room toward its slave; POLLIN for input.
    pollfd fds[3] = {
        {stop_.Descriptor(), POLLIN, 0},
        {a, static_cast<short>((toPeer.WantsInput() ? POLLIN : 0) | (usFull ? POLLOUT : 0)), 0},
        {b, static_cast<short>((toUs.WantsInput() ? POLLIN : 0) | (peerFull ? POLLOUT : 0)), 0}};
    // A pty's POLLOUT is not always told.
    if (peerFull || usFull) wait = Earliest(wait, std::chrono::milliseconds(5));
    // A stalled direction looks for its release now and then.
    if (toPeer.Stalled() || toUs.Stalled()) wait = Earliest(wait, std::chrono::milliseconds(5));
    if (PollFor(fds, 3, wait) < 0 && errno != EINTR) return;
    if (fds[0].revents) return;
    auto due = Clock::now() + options_.delay;
    if (fds[1].revents & POLLIN) toPeer.Take(due);
    if (fds[2].revents & POLLIN) toUs.Take(due);
    // A master whose slave is closed polls as hung up without end.
    if ((fds[1].revents | fds[2].revents) & (POLLHUP | POLLERR)) ::poll(nullptr, 0, 1);
  }
}

}  // namespace quorvel::testing
