// Turns a hang of the UI thread into a clear failure instead of a test that
// sits until the runner kills it, and watches the one-worker rule meanwhile.
//
// A timer on the UI thread beats; a thread of its own checks that the beats
// keep coming. When the UI loop has made no progress for `limit`, it prints
// what the UI thread was doing and aborts the process: a stuck UI thread
// cannot fail its own test, and nothing short of ending the process stops a
// deadlock. The same thread samples the terminal's count of running workers
// every millisecond.
#pragma once

#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "core/link_hub.h"

namespace quorvel::testing {

class Watchdog {
 public:
  explicit Watchdog(std::chrono::milliseconds limit) : limit_(limit) {
    Beat("starting");
    QObject::connect(&beat_, &QTimer::timeout, [this] { Beat(nullptr); });
    beat_.start(20);
    thread_ = std::thread([this] { Watch(); });
  }

  ~Watchdog() {
    {
      std::lock_guard guard(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // UI thread: progress; `doing` (a string literal), when given, names what
  // the UI thread does from now on.
  void Beat(const char* doing) {
    last_.store(Now());
    if (doing) doing_.store(doing);
  }

  // Samples hub.runningWorkers from now on; null stops sampling, and once
  // that returns the hub is no longer looked at.
  void Sample(const LinkHub* hub) {
    std::lock_guard guard(mutex_);
    hub_ = hub;
  }

  int MaxWorkersSeen() const { return maxWorkers_.load(); }

 private:
  static int64_t Now() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }

  void Watch() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(1), [this] { return quit_; })) {
      if (hub_) {
        int running = hub_->runningWorkers.load();
        int seen = maxWorkers_.load();
        while (running > seen && !maxWorkers_.compare_exchange_weak(seen, running)) {
        }
      }
      int64_t silent = Now() - last_.load();
      if (silent > limit_.count()) {
        std::fprintf(stderr,
                     "WATCHDOG: the UI loop made no progress for %lld ms (limit %lld ms) "
                     "while it was %s; running workers: %d. Aborting: a deadlock or a hang.\n",
                     static_cast<long long>(silent), static_cast<long long>(limit_.count()),
                     doing_.load(), hub_ ? hub_->runningWorkers.load() : -1);
        std::fflush(stderr);
        std::abort();
      }
    }
  }

  const std::chrono::milliseconds limit_;
  QTimer beat_;
  std::atomic<int64_t> last_{0};
  std::atomic<const char*> doing_{""};
  const LinkHub* hub_ = nullptr;  // guarded by mutex_
  std::atomic<int> maxWorkers_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
  std::thread thread_;
};

// Samples a terminal state's workers for as long as it lives; declare it
// after the window, so it stops before the window goes away.
class WorkerSampling {
 public:
  WorkerSampling(Watchdog& watchdog, const LinkHub& state) : watchdog_(watchdog) {
    watchdog_.Sample(&state);
  }
  ~WorkerSampling() { watchdog_.Sample(nullptr); }
  WorkerSampling(const WorkerSampling&) = delete;
  WorkerSampling& operator=(const WorkerSampling&) = delete;

 private:
  Watchdog& watchdog_;
};

}  // namespace quorvel::testing
