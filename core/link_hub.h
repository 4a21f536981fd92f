// What every part of one link shares, below the layer that opens and closes
// it: the port, the gate that keeps each send whole on the wire, the list of
// listeners, the exclusive taker of received bytes (a file transfer), the
// counters, the news for the window, and the queue through which a template
// window serves its receive worker's calls.
//
// A link session (connection/link_session.h) owns one and hands it to the
// parts that act on the line: the receive worker, the send door, a file
// transfer, and every listener that joins. Nothing here calls into a window.
// Any thread; each member says what it guards.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <thread>

#include "core/line_listeners.h"
#include "core/link_counters.h"
#include "core/link_news.h"
#include "core/port.h"
#include "core/receive_diversion.h"
#include "core/ui_calls.h"
#include "core/wire_gate.h"

namespace quorvel {

class LinkHub {
 public:
  // `port` is the line; it outlives the hub.
  explicit LinkHub(Port& linePort) : port(linePort) {}
  LinkHub(const LinkHub&) = delete;
  LinkHub& operator=(const LinkHub&) = delete;

  // How a taker gets the bytes: handed over by the receive worker, or read
  // from the port on the taker's own thread while the worker stands aside
  // (a file transfer: each answer it waits for then costs no wake-up of a
  // second thread).
  enum class TakerReads { kThroughWorker, kItself };

  // One taker at a time has every received byte instead of the terminal and
  // its listeners (those that hear transfers still hear them). Any thread;
  // false when another holds them. The taker outlives every worker that may
  // still see it. A taker that reads itself calls AwaitWorkerRead before
  // its first read of the port.
  bool TakeReceived(ReceiveDiversion& taker, TakerReads reads = TakerReads::kThroughWorker) {
    uintptr_t none = 0;
    uintptr_t mine = reinterpret_cast<uintptr_t>(&taker) | (reads == TakerReads::kItself ? 1 : 0);
    return taker_.compare_exchange_strong(none, mine);
  }
  // The worker, standing aside or not, goes back to its own reading.
  void GiveBackReceived(ReceiveDiversion& taker) {
    uintptr_t self = taker_.load();
    if ((self & ~kReadsItself) != reinterpret_cast<uintptr_t>(&taker)) return;
    if (!taker_.compare_exchange_strong(self, 0)) return;
    { std::lock_guard guard(asideMutex_); }
    asideChanged_.notify_all();
  }
  ReceiveDiversion* Taker() const { return Taking().taker; }

  // The taker and how it reads, seen together.
  struct Taken {
    ReceiveDiversion* taker = nullptr;
    bool readsItself = false;
  };
  Taken Taking() const {
    uintptr_t now = taker_.load();
    return {reinterpret_cast<ReceiveDiversion*>(now & ~kReadsItself), (now & kReadsItself) != 0};
  }

  // The worker marks each read of the port, from before it looks for a
  // taker until what it read has gone to the listeners. A taker that reads
  // itself waits, once it has taken, for a read the worker began before it
  // saw the taker: those bytes came before the transfer's, and no two
  // threads read the port at once. The worker's read never waits, so
  // neither does this for long.
  void BeginWorkerRead() { workerReading_.store(true); }
  void EndWorkerRead() { workerReading_.store(false); }
  void AwaitWorkerRead() const {
    while (workerReading_.load()) std::this_thread::yield();
  }

  // The worker, while a taker that reads itself holds the bytes: returns
  // once they are given back, on WakeAside, or after `timeoutMs` (so a
  // worker told to stop or a port closed meanwhile is seen without a wake).
  void StandAside(int timeoutMs) {
    std::unique_lock lock(asideMutex_);
    asideChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return asideWake_ || !Taking().readsItself; });
    asideWake_ = false;
  }
  // Any thread: ends the worker's StandAside now (or its next one).
  void WakeAside() {
    {
      std::lock_guard guard(asideMutex_);
      asideWake_ = true;
    }
    asideChanged_.notify_all();
  }

  // An event of the link, for every listener.
  void Note(LineEvent event, std::string_view text) const { listeners.Noted(event, text); }

  Port& port;
  WireGate wire;
  LineListeners listeners;
  LinkCounters counters;
  LinkNews news;
  UiCallQueue uiCalls;

  // Diagnostics for the one-worker-at-a-time rule; written by the worker.
  std::atomic<int> runningWorkers{0};
  std::atomic<bool> workersOverlapped{false};

 private:
  // The taker's address, its lowest bit set when it reads itself (a
  // ReceiveDiversion is aligned to more than a byte).
  static constexpr uintptr_t kReadsItself = 1;
  std::atomic<uintptr_t> taker_{0};
  std::atomic<bool> workerReading_{false};
  std::mutex asideMutex_;
  std::condition_variable asideChanged_;
  bool asideWake_ = false;  // under asideMutex_
};

}  // namespace quorvel
