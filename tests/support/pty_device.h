// A pseudo-terminal playing the serial device: the terminal opens the slave
// by path, the test acts as the device on the master.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/termios2_line.h"

namespace quorvel::testing {

class PtyDevice {
 public:
  PtyDevice();  // fails the current test if no pseudo-terminal can be made
  ~PtyDevice();
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  const std::string& Path() const { return path_; }
  int Master() const { return master_; }

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
  void Hangup();

 private:
  int master_ = -1;
  int slave_ = -1;  // held so the line does not hang up between opens
  std::string path_;
};

}  // namespace quorvel::testing
