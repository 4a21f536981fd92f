// Watches the input lines of an open device on a thread of its own and posts
// every change to a board: with the driver's wait for a change where it has
// one (no wake-up at all while the lines are quiet), else by looking twice a
// second. The watch ends by itself when the driver stops answering. Start and
// Stop belong to the thread that opens and closes the port.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "connection/line_board.h"
#include "link/line_modem.h"

namespace quorvel {

class LineWatcher {
 public:
  static constexpr std::chrono::milliseconds kLookPeriod{500};

  explicit LineWatcher(LineBoard& board) : board_(board) {}
  ~LineWatcher() { Stop(); }
  LineWatcher(const LineWatcher&) = delete;
  LineWatcher& operator=(const LineWatcher&) = delete;

  // Watches the lines of `modem` until Stop(); a watch still running is
  // stopped first.
  void Start(LineModem& modem);
  // Ends the watch and waits for its thread, which never waits for anyone
  // else; the line may be closed afterwards. Harmless when nothing runs.
  void Stop();
  // Whether the watch goes on (false once the driver stopped answering).
  bool Watching() const;

 private:
  void Run(LineModem& modem);
  // Waits `period` or until Stop(); true when stopping.
  bool Rest(std::chrono::milliseconds period);
  bool Stopping();

  LineBoard& board_;
  std::thread thread_;
  LineModem* modem_ = nullptr;  // set while a thread runs
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  bool ended_ = true;
};

}  // namespace quorvel
