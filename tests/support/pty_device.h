// A pseudo-terminal playing the serial device in a test: the terminal opens
// the slave by path, the test acts as the device on the master. A line that
// cannot be made or written fails the current test.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/termios2_line.h"
#include "support/pty_line.h"

namespace quorvel::testing {

class PtyDevice {
 public:
  PtyDevice();  // fails the current test if no pseudo-terminal can be made

  const std::string& Path() const { return line_.Path(); }
  int Master() const { return line_.Master(); }

  // Fails the current test when the line does not take every byte within
  // kSendTimeout.
  void Send(const std::vector<uint8_t>& bytes);
  void Send(const std::string& text);

  // Reads until `count` bytes have arrived or `timeout` passes.
  std::vector<uint8_t> Receive(size_t count,
                               std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Everything that arrives within `quiet` of the last byte (at least `quiet`).
  std::vector<uint8_t> Drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(50));

  // The line as the terminal set it on the slave.
  LineSnapshot Line() const;

  // Closes the device side, as when a device vanishes.
  void Hangup() { line_.Hangup(); }

 private:
  static constexpr std::chrono::milliseconds kSendTimeout{30'000};
  PtyLine line_{PtyLine::Mode::kAsMade};
};

}  // namespace quorvel::testing
