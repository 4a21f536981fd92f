// Carries out the user's commands on the output lines and break, in the order
// given, on a thread of its own, so that a pulse or a break never holds up the
// window. After every step the board gets the lines as they then are.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "connection/line_board.h"
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
  // Drops waiting commands, cuts a pulse short with its lines restored, lets
  // a break end, and waits for the thread; the line may be closed afterwards.
  void Stop();

 private:
  struct Command {
    Kind kind;
    unsigned lines;
  };
  void Run(LineModem& modem);
  void Carry(LineModem& modem, const Command& command);
  void Pulse(LineModem& modem, unsigned lines);

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
