// Who else wants to see the bytes the line carries (the log file), beside
// the receive box. The receive worker reports what it reads, the senders what
// they wrote, each on its own thread, so a tap must return quickly: it may
// take a short lock and copy, never wait for a file.
#pragma once

#include <cstdint>

namespace quorvel {

class LineTap {
 public:
  virtual ~LineTap() = default;
  virtual void Received(const uint8_t* bytes, int count) = 0;
  virtual void Sent(const uint8_t* bytes, int count) = 0;
};

}  // namespace quorvel
