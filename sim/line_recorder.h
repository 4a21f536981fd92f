// Writes what a simulated device exchanges into a recording, in the hex dump
// the terminal's log writes, and from the terminal's side of the line: what
// the device sent is RX, what it received is TX. A recording made by the
// simulator therefore replays exactly as one made by the terminal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "logging/log_format.h"

namespace quorvel {

// One thread.
class LineRecorder {
 public:
  LineRecorder() = default;
  ~LineRecorder();  // closes the file
  LineRecorder(const LineRecorder&) = delete;
  LineRecorder& operator=(const LineRecorder&) = delete;

  // Creates or replaces `path`; false with `error` set when it cannot, and
  // nothing is recorded then.
  bool Open(const std::string& path, std::string& error);
  bool IsOpen() const { return file_ != nullptr; }

  // Each call is one burst with the time of the call. A failed write closes
  // the file and is told once on standard error.
  void DeviceSent(const uint8_t* bytes, size_t count);
  void DeviceReceived(const uint8_t* bytes, size_t count);

 private:
  void Write(LogDirection direction, const uint8_t* bytes, size_t count);

  std::FILE* file_ = nullptr;
  std::string path_;
  LogFormatter formatter_{LogFormat::kHex, true};
  std::string text_;
};

}  // namespace quorvel
