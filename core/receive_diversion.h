// Where the received bytes go while a file transfer runs on the link: to the
// transfer, instead of the receive log, the frames, the answer rules and the
// session view (the log file still gets them, as the user chose to log).
// The receive worker calls both operations from its own thread, and the
// diversion returns at once: it may take a short lock and copy, nothing more.
#pragma once

#include <cstdint>

namespace quorvel {

class ReceiveDiversion {
 public:
  virtual ~ReceiveDiversion() = default;
  // Bytes just read from the line.
  virtual void Divert(const uint8_t* bytes, int count) = 0;
  // The worker that read for it has ended: the link closed or its device
  // went away. Nothing more comes from this link.
  virtual void ReaderEnded() = 0;
};

}  // namespace quorvel
