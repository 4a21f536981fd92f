// Carries out the commands on the output lines and break, the user's and a
// script's, in the order given, on a thread of its own, so that a pulse or a
// break never holds up the window. After every step the board gets the lines
// as they then are.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "connection/line_board.h"
#include "core/result.h"
#include "link/line_modem.h"

namespace quorvel {

class LineActions {
 public:
  // How long a pulse holds its line at the other level.
  static constexpr std::chrono::milliseconds kPulseLength{100};

  enum class Kind {
    kRaise,  // make the lines active
    kDrop,   // make them inactive
    kPulse,  // the other level for kPulseLength, then back
    kBreak,  // a break of about a quarter of a second
  };

  // How an ordered command went: told once, on the actions' thread after the
  // step (and the board's look), or on the thread that dropped it (Order
  // while nothing runs, Stop). Must return at once.
  using Finished = std::function<void(const Done&)>;

  explicit LineActions(LineBoard& board) : board_(board) {}
  ~LineActions() { Stop(); }
  LineActions(const LineActions&) = delete;
  LineActions& operator=(const LineActions&) = delete;

  // Serves commands for the lines of `modem` until Stop(). The thread that
  // opens and closes the port calls Start and Stop.
  void Start(LineModem& modem);
  // Queues a command for the kLine... bits `lines` (none for a break);
  // dropped while nothing runs.
  void Request(Kind kind, unsigned lines = 0);
  // Any thread: the same, for a caller that waits for its end. A break of
  // `breakLength` (kBreak; zero: Request's quarter second) holds the line in
  // break that long, and Stop cuts it short.
  void Order(Kind kind, unsigned lines, std::chrono::milliseconds breakLength, Finished done);
  // Drops waiting commands, cuts a pulse short with its lines restored, lets
  // a break end, and waits for the thread; the line may be closed afterwards.
  void Stop();

 private:
  struct Command {
    Kind kind;
    unsigned lines;
    std::chrono::milliseconds breakLength{0};
    Finished done;
  };
  void Run(LineModem& modem);
  bool Carry(LineModem& modem, const Command& command);
  bool Pulse(LineModem& modem, unsigned lines);
  bool TimedBreak(LineModem& modem, std::chrono::milliseconds length);

  LineBoard& board_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Command> queue_;
  bool running_ = false;
  bool stop_ = false;
  bool breaking_ = false;
  LineModem* modem_ = nullptr;  // set while a thread runs
};

}  // namespace quorvel
